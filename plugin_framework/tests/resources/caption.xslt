<?xml version="1.0" encoding="UTF-8"?>
<!-- The caption lines of a bundle: one output line per item, its metadata lines joined by " | ". -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:param name="intraItemDelimiter"/>
  <xsl:param name="interItemDelimiter"/>
  <xsl:param name="imageStr"/>
  <xsl:template match="/">
    <xsl:call-template name="items">
      <xsl:with-param name="rest" select="$imageStr"/>
    </xsl:call-template>
  </xsl:template>
  <xsl:template name="items">
    <xsl:param name="rest"/>
    <xsl:if test="contains($rest, $interItemDelimiter)">
      <xsl:call-template name="lines">
        <xsl:with-param name="rest" select="substring-before($rest, $interItemDelimiter)"/>
      </xsl:call-template>
      <xsl:text>&#10;</xsl:text>
      <xsl:call-template name="items">
        <xsl:with-param name="rest" select="substring-after($rest, $interItemDelimiter)"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>
  <xsl:template name="lines">
    <xsl:param name="rest"/>
    <xsl:if test="contains($rest, $intraItemDelimiter)">
      <xsl:value-of select="substring-before($rest, $intraItemDelimiter)"/>
      <xsl:if test="contains(substring-after($rest, $intraItemDelimiter), $intraItemDelimiter)">
        <xsl:text> | </xsl:text>
      </xsl:if>
      <xsl:call-template name="lines">
        <xsl:with-param name="rest" select="substring-after($rest, $intraItemDelimiter)"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>
</xsl:stylesheet>
