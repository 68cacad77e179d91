<?xml version="1.0" encoding="UTF-8"?>
<!-- The layout sheet: turns the page template into a layout template (LTF) of one cluster with a grid of
     nbCols x nbRows cells on one page of pageW x pageH. Cell (row, column) starts at
     (borderL + column (itemW + spaceW), borderT + row (itemH + T + spaceH)), where T is the caption block:
     textHeight for the basic line, twice textHeight for the additional and for the detailed block. Each
     cell holds a picture item itemW x itemH bound to its dynamic object, and a text item per chosen
     caption block under it. Every parameter has a default, so that the print, mail and design modules can
     each give the ones they have. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:param name="pageW" select="0"/>
  <xsl:param name="pageH" select="0"/>
  <xsl:param name="itemW" select="0"/>
  <xsl:param name="itemH" select="0"/>
  <xsl:param name="nbCols" select="0"/>
  <xsl:param name="nbRows" select="0"/>
  <xsl:param name="borderL" select="0"/>
  <xsl:param name="borderT" select="0"/>
  <xsl:param name="borderR" select="0"/>
  <xsl:param name="borderB" select="0"/>
  <xsl:param name="spaceW" select="0"/>
  <xsl:param name="spaceH" select="0"/>
  <xsl:param name="bestFit" select="0"/>
  <xsl:param name="borderlessPrint" select="0"/>
  <xsl:param name="textHeight" select="0"/>
  <xsl:param name="fontName" select="string(/template/property[@name = 'font']/attr[@name = 'font-family'])"/>
  <xsl:param name="italic" select="0"/>
  <xsl:param name="bold" select="0"/>
  <xsl:param name="useBasicInfo" select="number($textHeight &gt; 0)"/>
  <xsl:param name="useAdditionalInfo" select="0"/>
  <xsl:param name="useDetailedInfo" select="0"/>
  <xsl:param name="bkColor" select="'#ffffffff'"/>
  <xsl:param name="textColor" select="'#000000ff'"/>

  <!-- Counts as whole numbers; a grid below one cell on either side has no cells. -->
  <xsl:variable name="columns" select="floor(number($nbCols))"/>
  <xsl:variable name="rows" select="floor(number($nbRows))"/>
  <xsl:variable name="cells">
    <xsl:choose>
      <xsl:when test="$columns &gt;= 1 and $rows &gt;= 1"><xsl:value-of select="$columns * $rows"/></xsl:when>
      <xsl:otherwise>0</xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <xsl:variable name="line">
    <xsl:choose>
      <xsl:when test="number($textHeight) &gt; 0"><xsl:value-of select="number($textHeight)"/></xsl:when>
      <xsl:otherwise>0</xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <xsl:variable name="basic" select="number($useBasicInfo = 1 and $line &gt; 0)"/>
  <xsl:variable name="additional" select="number($useAdditionalInfo = 1 and $line &gt; 0)"/>
  <xsl:variable name="detailed" select="number($useDetailedInfo = 1 and $line &gt; 0)"/>
  <xsl:variable name="block" select="$line * ($basic + 2 * $additional + 2 * $detailed)"/>
  <xsl:variable name="fit">
    <xsl:choose>
      <xsl:when test="number($borderlessPrint) = 1">cover</xsl:when>
      <xsl:otherwise>inside</xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <xsl:variable name="rotation">
    <xsl:if test="number($bestFit) = 1">best-fit</xsl:if>
  </xsl:variable>

  <xsl:template match="/">
    <template>
      <xsl:copy-of select="template/property"/>
      <cluster id="1">
        <dynObjects>
          <xsl:call-template name="cells">
            <xsl:with-param name="from" select="0"/>
            <xsl:with-param name="to" select="number($cells)"/>
            <xsl:with-param name="slots" select="true()"/>
          </xsl:call-template>
        </dynObjects>
        <page id="1" cx="{format-number(number($pageW), '0.######')}"
              cy="{format-number(number($pageH), '0.######')}">
          <property name="background"><attr name="color"><xsl:value-of select="$bkColor"/></attr></property>
          <xsl:call-template name="cells">
            <xsl:with-param name="from" select="0"/>
            <xsl:with-param name="to" select="number($cells)"/>
            <xsl:with-param name="slots" select="false()"/>
          </xsl:call-template>
        </page>
      </cluster>
    </template>
  </xsl:template>

  <!-- Cells from up to (not including) to, halving the range: the depth grows with the logarithm only. -->
  <xsl:template name="cells">
    <xsl:param name="from"/>
    <xsl:param name="to"/>
    <xsl:param name="slots"/>
    <xsl:choose>
      <xsl:when test="$to - $from = 1">
        <xsl:choose>
          <xsl:when test="$slots"><mm-object id="{$from}" type="image"/></xsl:when>
          <xsl:otherwise><xsl:call-template name="cell"><xsl:with-param name="i" select="$from"/></xsl:call-template></xsl:otherwise>
        </xsl:choose>
      </xsl:when>
      <xsl:when test="$to - $from &gt; 1">
        <xsl:variable name="middle" select="floor(($from + $to) div 2)"/>
        <xsl:call-template name="cells">
          <xsl:with-param name="from" select="$from"/>
          <xsl:with-param name="to" select="$middle"/>
          <xsl:with-param name="slots" select="$slots"/>
        </xsl:call-template>
        <xsl:call-template name="cells">
          <xsl:with-param name="from" select="$middle"/>
          <xsl:with-param name="to" select="$to"/>
          <xsl:with-param name="slots" select="$slots"/>
        </xsl:call-template>
      </xsl:when>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="cell">
    <xsl:param name="i"/>
    <xsl:variable name="column" select="$i mod $columns"/>
    <xsl:variable name="row" select="floor($i div $columns)"/>
    <xsl:variable name="x" select="number($borderL) + $column * (number($itemW) + number($spaceW))"/>
    <xsl:variable name="y" select="number($borderT) + $row * (number($itemH) + $block + number($spaceH))"/>
    <item id="{4 * $i + 1}">
      <bounding-box x="{format-number($x, '0.######')}" y="{format-number($y, '0.######')}"
                    cx="{format-number(number($itemW), '0.######')}" cy="{format-number(number($itemH), '0.######')}"/>
      <content><image mime-type="image/jpeg">#<xsl:value-of select="$i"/>/content</image></content>
      <property name="fit"><attr name="mode"><xsl:value-of select="$fit"/></attr></property>
      <property name="rotation"><attr name="mode"><xsl:value-of select="$rotation"/></attr></property>
    </item>
    <xsl:variable name="top" select="$y + number($itemH)"/>
    <xsl:if test="$basic = 1">
      <xsl:call-template name="caption">
        <xsl:with-param name="id" select="4 * $i + 2"/>
        <xsl:with-param name="i" select="$i"/>
        <xsl:with-param name="x" select="$x"/>
        <xsl:with-param name="y" select="$top"/>
        <xsl:with-param name="lines" select="1"/>
        <xsl:with-param name="kind" select="'basic'"/>
      </xsl:call-template>
    </xsl:if>
    <xsl:if test="$additional = 1">
      <xsl:call-template name="caption">
        <xsl:with-param name="id" select="4 * $i + 3"/>
        <xsl:with-param name="i" select="$i"/>
        <xsl:with-param name="x" select="$x"/>
        <xsl:with-param name="y" select="$top + $basic * $line"/>
        <xsl:with-param name="lines" select="2"/>
        <xsl:with-param name="kind" select="'additional'"/>
      </xsl:call-template>
    </xsl:if>
    <xsl:if test="$detailed = 1">
      <xsl:call-template name="caption">
        <xsl:with-param name="id" select="4 * $i + 4"/>
        <xsl:with-param name="i" select="$i"/>
        <xsl:with-param name="x" select="$x"/>
        <xsl:with-param name="y" select="$top + ($basic + 2 * $additional) * $line"/>
        <xsl:with-param name="lines" select="2"/>
        <xsl:with-param name="kind" select="'detailed'"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <xsl:template name="caption">
    <xsl:param name="id"/>
    <xsl:param name="i"/>
    <xsl:param name="x"/>
    <xsl:param name="y"/>
    <xsl:param name="lines"/>
    <xsl:param name="kind"/>
    <item id="{$id}" kind="text">
      <bounding-box x="{format-number($x, '0.######')}" y="{format-number($y, '0.######')}"
                    cx="{format-number(number($itemW), '0.######')}" cy="{format-number($lines * $line, '0.######')}"/>
      <content><text>#<xsl:value-of select="$i"/>/caption/<xsl:value-of select="$kind"/></text></content>
      <property name="text">
        <attr name="font-family"><xsl:value-of select="$fontName"/></attr>
        <attr name="font-size"><xsl:value-of select="format-number($line, '0.######')"/></attr>
        <attr name="italic"><xsl:value-of select="number(number($italic) = 1)"/></attr>
        <attr name="bold"><xsl:value-of select="number(number($bold) = 1)"/></attr>
        <attr name="color"><xsl:value-of select="$textColor"/></attr>
      </property>
    </item>
  </xsl:template>
</xsl:stylesheet>
