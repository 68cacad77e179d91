<?xml version="1.0" encoding="UTF-8"?>
<!-- The imprints of a layout document: arrImprintsInfo holds one entry "w,h,text;" per picture item in
     document order (w x h the picture's size). Each picture item gets, after it on its page, a text item
     in the lower-right corner of the picture as fitted into the item's box (turned to the box's
     orientation when the item's rotation is "best-fit", filling the box when its fit is "cover"). An entry
     with a size of 0, or no entry, gives no imprint. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:str="http://exslt.org/strings" extension-element-prefixes="str">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:param name="arrImprintsInfo" select="''"/>
  <xsl:param name="fontName" select="'Arial'"/>
  <xsl:param name="fontHeight" select="0"/>
  <xsl:param name="italic" select="0"/>
  <xsl:param name="bold" select="0"/>
  <xsl:param name="textColor" select="'#000000ff'"/>

  <xsl:variable name="entries" select="str:split($arrImprintsInfo, ';')"/>
  <xsl:variable name="height" select="number($fontHeight)"/>

  <xsl:template match="@* | node()">
    <xsl:copy><xsl:apply-templates select="@* | node()"/></xsl:copy>
  </xsl:template>

  <xsl:template match="page">
    <xsl:variable name="before" select="count(preceding-sibling::page/item[content/image])"/>
    <xsl:copy>
      <xsl:apply-templates select="@* | node()[not(self::item)]"/>
      <xsl:for-each select="item">
        <xsl:apply-templates select="."/>
        <xsl:if test="content/image">
          <xsl:call-template name="imprint">
            <xsl:with-param name="entry"
                            select="$entries[$before + count(current()/preceding-sibling::item[content/image]) + 1]"/>
            <xsl:with-param name="id" select="count(../item) + count(preceding-sibling::item[content/image]) + 1"/>
          </xsl:call-template>
        </xsl:if>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <xsl:template name="imprint">
    <xsl:param name="entry"/>
    <xsl:param name="id"/>
    <xsl:variable name="w0" select="number(substring-before($entry, ','))"/>
    <xsl:variable name="h0" select="number(substring-before(substring-after($entry, ','), ','))"/>
    <xsl:variable name="text" select="substring-after(substring-after($entry, ','), ',')"/>
    <xsl:variable name="x" select="number(bounding-box/@x)"/>
    <xsl:variable name="y" select="number(bounding-box/@y)"/>
    <xsl:variable name="cx" select="number(bounding-box/@cx)"/>
    <xsl:variable name="cy" select="number(bounding-box/@cy)"/>
    <xsl:if test="$w0 &gt; 0 and $h0 &gt; 0 and $cx &gt; 0 and $cy &gt; 0 and $height &gt; 0 and $x = $x and $y = $y">
      <xsl:variable name="turn" select="string(property[@name = 'rotation']/attr) = 'best-fit' and
                                        (($w0 &gt; $h0) != ($cx &gt; $cy))"/>
      <xsl:variable name="w" select="$w0 * number(not($turn)) + $h0 * number($turn)"/>
      <xsl:variable name="h" select="$h0 * number(not($turn)) + $w0 * number($turn)"/>
      <xsl:variable name="cover" select="string(property[@name = 'fit']/attr) = 'cover'"/>
      <xsl:variable name="scale">
        <xsl:choose>
          <xsl:when test="$cover or $cx div $w &lt; $cy div $h"><xsl:value-of select="$cx div $w"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="$cy div $h"/></xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:variable name="fw">
        <xsl:choose>
          <xsl:when test="$cover"><xsl:value-of select="$cx"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="$w * $scale"/></xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:variable name="fh">
        <xsl:choose>
          <xsl:when test="$cover"><xsl:value-of select="$cy"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="$h * $scale"/></xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:variable name="lineHeight">
        <xsl:choose>
          <xsl:when test="$height &lt; $fh"><xsl:value-of select="$height"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="$fh"/></xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:variable name="left" select="$x + ($cx - $fw) div 2"/>
      <xsl:variable name="bottom" select="$y + ($cy + $fh) div 2"/>
      <item id="{$id}" kind="text">
        <bounding-box x="{format-number($left, '0.######')}" y="{format-number($bottom - $lineHeight, '0.######')}"
                      cx="{format-number($fw, '0.######')}" cy="{format-number($lineHeight, '0.######')}"/>
        <content><text><xsl:value-of select="$text"/></text></content>
        <property name="text">
          <attr name="font-family"><xsl:value-of select="$fontName"/></attr>
          <attr name="font-size"><xsl:value-of select="format-number($height, '0.######')"/></attr>
          <attr name="italic"><xsl:value-of select="number(number($italic) = 1)"/></attr>
          <attr name="bold"><xsl:value-of select="number(number($bold) = 1)"/></attr>
          <attr name="color"><xsl:value-of select="$textColor"/></attr>
          <attr name="alignment">right</attr>
        </property>
        <metadata><property name="kind">imprint</property></metadata>
      </item>
    </xsl:if>
  </xsl:template>
</xsl:stylesheet>
