// Notification toasts: the stacking rule on its own, then real toasts on the display.
#include "batch/notifications.h"

#include <gtest/gtest.h>
#include <wx/display.h>

#include "batch/icons.h"
#include "batch/window_test_support.h"

namespace {
const wxSize kToast(329, 74);

wxRect At(int x, int y) {
    return wxRect(wxPoint(x, y), kToast);
}
}  // namespace

TEST(ToastStacking, MovesUpPastEveryEarlierPlaceItMeets) {
    struct Case {
        const char* what;
        std::vector<wxRect> earlier;
        wxRect expected;
    } cases[] = {
        {"nothing earlier", {}, At(900, 900)},
        {"one at the same place", {At(900, 900)}, At(900, 826)},
        {"a column of three, listed out of order",
         {At(900, 752), At(900, 900), At(900, 826)},
         At(900, 678)},
        {"one slightly overlapping from above", {At(900, 850)}, At(900, 776)},
        {"one beside it, not meeting", {At(500, 900)}, At(900, 900)},
        {"one touching its top edge only", {At(900, 826)}, At(900, 900)},
        {"a gap too small is skipped", {At(900, 900), At(900, 770)}, At(900, 696)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StackToastRect(At(900, 900), c.earlier), c.expected) << c.what;
}

TEST(Toasts, StackWithoutOverlapAndTakeTheLowestFreePlace) {
    NotificationService service;
    wxRect area = wxDisplay(0u).GetClientArea();
    for (int i = 0; i < 3; ++i)
        service.Show(nullptr, wxString::Format("Title %d", i), "First line",
                     "A second line that is long enough to be wrapped onto a further line",
                     i == 1 ? kIconFailure : kIconSuccess, kIconCloseButton, kIconOptionButton,
                     1500, -1);
    ASSERT_EQ(service.OpenCount(), 3);
    windowtest::Pump(450);  // past the 300 ms slide
    windowtest::MaybeScreenshot("toasts-stacked");
    const auto& shown = service.Shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].place,
              wxRect(wxPoint(area.GetRight() + 1 - 329, area.GetBottom() + 1 - 74), kToast));
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].place.GetSize(), kToast);
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i].place.Intersects(shown[j].place)) << i << " and " << j;
    }
    EXPECT_EQ(shown[1].place.GetBottom() + 1, shown[0].place.GetTop());
    // The windows themselves stand where their records say, at full size.
    std::vector<ToastWindow*> open = service.OpenToasts();
    ASSERT_EQ(open.size(), 3u);
    for (size_t i = 0; i < open.size(); ++i) {
        EXPECT_TRUE(open[i]->IsShown());
        EXPECT_EQ(open[i]->GetScreenRect(), shown[i].place);
    }

    // The failure stays in the middle; the places of the closed ones are free again, so
    // new ones take the lowest free place and never walk up the screen.
    ASSERT_TRUE(windowtest::PumpUntil([&] { return service.OpenCount() == 1; }, 5000));
    service.Show(nullptr, "Later", "", "", kIconInformation, kIconCloseButton, kIconOptionButton,
                 10000, -1);
    EXPECT_EQ(service.Shown().back().place, shown[0].place);
    service.Show(nullptr, "Later still", "", "", kIconInformation, kIconCloseButton,
                 kIconOptionButton, 10000, -1);
    EXPECT_EQ(service.Shown().back().place, shown[2].place);
    // Once none is left, the next one starts at the bottom again.
    service.CloseAll();
    ASSERT_TRUE(windowtest::PumpUntil([&] { return service.OpenCount() == 0; }, 5000));
    service.Show(nullptr, "Much later", "", "", kIconInformation, kIconCloseButton,
                 kIconOptionButton, 10000, -1);
    EXPECT_EQ(service.Shown().back().place, shown[0].place);
    service.CloseAll();
    windowtest::Pump(50);
}

TEST(Toasts, TheSameNotificationTakesThePlaceAndTimeOfTheOneStillShown) {
    NotificationService service;
    service.Show(nullptr, "Program Found", "Program found in path", "Found in /bin/sh",
                 kIconSuccess, kIconCloseButton, kIconOptionButton, 600, -1);
    service.Show(nullptr, "Other", "", "", kIconInformation, kIconCloseButton, kIconOptionButton,
                 10000, -1);
    windowtest::Pump(400);
    for (int i = 0; i < 4; ++i) {
        service.Show(nullptr, "Program Found", "Program found in path", "Found in /bin/sh",
                     kIconSuccess, kIconCloseButton, kIconOptionButton, 600, -1);
        EXPECT_EQ(service.OpenCount(), 2);
        EXPECT_TRUE(service.Shown().back().replaced);
        EXPECT_EQ(service.Shown().back().place, service.Shown().front().place);
    }
    // Its time started again with the last one: still there after the first would be gone.
    windowtest::Pump(400);
    EXPECT_EQ(service.OpenCount(), 2);
    ASSERT_TRUE(windowtest::PumpUntil([&] { return service.OpenCount() == 1; }, 5000));
    // A different second line is another notification.
    service.Show(nullptr, "Other", "", "another", kIconInformation, kIconCloseButton,
                 kIconOptionButton, 10000, -1);
    EXPECT_EQ(service.OpenCount(), 2);
    EXPECT_FALSE(service.Shown().back().replaced);
    service.CloseAll();
    windowtest::Pump(50);
}

TEST(Toasts, AFailureStaysUntilItIsClosed) {
    NotificationService service;
    service.Show(nullptr, "Invalid Program", "x not found in path", "", kIconFailure,
                 kIconCloseButton, kIconOptionButton, 300, -1);
    service.Show(nullptr, "Parsed", "", "", kIconSuccess, kIconCloseButton, kIconOptionButton, 300,
                 -1);
    windowtest::Pump(1200);
    std::vector<ToastWindow*> open = service.OpenToasts();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0]->Content().title, "Invalid Program");
    service.CloseAll();
    windowtest::Pump(50);
}

TEST(Toasts, ANewToastThatWouldLeaveTheScreenAvoidsOnlyTheOpenOnes) {
    NotificationService service;
    wxRect area = wxDisplay(0u).GetClientArea();
    int fit = area.height / 74;
    for (int i = 0; i < fit; ++i)
        service.Show(nullptr, "Filler", "", "", kIconInformation, kIconCloseButton,
                     kIconOptionButton, 200, -1);
    ASSERT_TRUE(windowtest::PumpUntil([&] { return service.OpenCount() == 0; }, 5000));
    service.Show(nullptr, "Open", "", "", kIconInformation, kIconCloseButton, kIconOptionButton,
                 10000, -1);
    service.Show(nullptr, "Next", "", "", kIconInformation, kIconCloseButton, kIconOptionButton,
                 10000, -1);
    const auto& shown = service.Shown();
    wxRect open = shown[shown.size() - 2].place;
    wxRect next = shown.back().place;
    EXPECT_GE(open.y, area.y);
    EXPECT_GE(next.y, area.y);
    EXPECT_FALSE(open.Intersects(next));
    service.CloseAll();
    windowtest::Pump(50);
}

TEST(Toasts, TheCloseButtonClosesAToast) {
    NotificationService service;
    service.Show(nullptr, "Close me", "", "", kIconInformation, kIconCloseButton, kIconOptionButton,
                 10000, -1);
    windowtest::Pump(400);
    ASSERT_EQ(service.OpenToasts().size(), 1u);
    ToastWindow* toast = service.OpenToasts()[0];
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}) {
        wxMouseEvent click(type);
        click.SetPosition(wxPoint(316, 22));  // the middle of the close button
        click.SetEventObject(toast);
        toast->ProcessWindowEvent(click);
    }
    EXPECT_TRUE(windowtest::PumpUntil([&] { return service.OpenCount() == 0; }, 2000));
}
