<?xml version="1.0" encoding="UTF-8"?>
<!-- Adds the hand-written explanation of each option to the option list and synopsis that a
     program writes with DOCBOOK set. The program decides which options there are and what
     each is called; the explanations only add to that. An explanation of an option the
     program no longer has stops the build, so the page cannot describe a removed option. -->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:db="http://docbook.org/ns/docbook"
    xmlns:d="urn:corvantix:option-details"
    exclude-result-prefixes="d">

  <xsl:param name="details"/>
  <xsl:variable name="explained" select="document($details)/d:details/d:option"/>
  <xsl:variable name="input" select="/"/>

  <!-- The letter of an option list entry or a synopsis argument. -->
  <xsl:template name="letter">
    <xsl:param name="text"/>
    <xsl:value-of select="substring(normalize-space($text), 2, 1)"/>
  </xsl:template>

  <xsl:template match="@*|node()">
    <xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy>
  </xsl:template>

  <!-- XInclude leaves xml:base behind; the page needs no base of its own. -->
  <xsl:template match="@xml:base"/>

  <xsl:template match="/">
    <xsl:for-each select="$explained">
      <xsl:variable name="letter" select="@letter"/>
      <xsl:if test="not($input//db:varlistentry/db:term/db:option[1][normalize-space(.) = concat('-', $letter)])
                    and not($input//db:arg[substring(normalize-space(text()[1]), 2, 1) = $letter])">
        <xsl:message terminate="yes">
          <xsl:value-of select="concat('option -', $letter, ' is explained, but the program has no such option')"/>
        </xsl:message>
      </xsl:if>
    </xsl:for-each>
    <xsl:apply-templates/>
  </xsl:template>

  <!-- An option entry: the value's name after the letter, the explanation after the
       program's own description. -->
  <xsl:template match="db:varlistentry">
    <xsl:variable name="letter">
      <xsl:call-template name="letter"><xsl:with-param name="text" select="db:term/db:option[1]"/></xsl:call-template>
    </xsl:variable>
    <xsl:variable name="details" select="$explained[@letter = $letter]"/>
    <xsl:copy>
      <xsl:apply-templates select="@*"/>
      <xsl:choose>
        <xsl:when test="$details/@value and count(db:term/node()) = 1">
          <db:term><db:option>-<xsl:value-of select="$letter"/></db:option><xsl:text> </xsl:text><db:replaceable><xsl:value-of select="$details/@value"/></db:replaceable></db:term>
        </xsl:when>
        <xsl:otherwise><xsl:apply-templates select="db:term"/></xsl:otherwise>
      </xsl:choose>
      <db:listitem>
        <xsl:apply-templates select="db:listitem/node()"/>
        <xsl:copy-of select="$details/db:*"/>
      </db:listitem>
    </xsl:copy>
  </xsl:template>

  <!-- A synopsis argument: without brackets where the explanation says it is required,
       its value named. -->
  <xsl:template match="db:arg">
    <xsl:variable name="letter">
      <xsl:call-template name="letter"><xsl:with-param name="text" select="text()[1]"/></xsl:call-template>
    </xsl:variable>
    <xsl:variable name="details" select="$explained[@letter = $letter]"/>
    <xsl:copy>
      <xsl:apply-templates select="@*"/>
      <xsl:if test="$details/@required = 'yes'"><xsl:attribute name="choice">plain</xsl:attribute></xsl:if>
      <xsl:choose>
        <xsl:when test="$details/@value and db:replaceable">
          <xsl:value-of select="concat('-', $letter, ' ')"/>
          <db:replaceable><xsl:value-of select="$details/@value"/></db:replaceable>
        </xsl:when>
        <xsl:otherwise><xsl:apply-templates select="node()"/></xsl:otherwise>
      </xsl:choose>
    </xsl:copy>
  </xsl:template>
</xsl:stylesheet>
