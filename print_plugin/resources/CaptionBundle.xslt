<?xml version="1.0" encoding="UTF-8"?>
<!-- The items file of a selection: one bundle object per entry of imageStr (entries end with
     interItemDelimiter, their lines with intraItemDelimiter). "NUID:" gives the object's content; the
     "Filename:" or "Basic:", "Additional:" and "Detailed:" lines give its captions of the kinds basic,
     additional and detailed. Both splits cut at the whole delimiter only. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:str="http://exslt.org/strings" extension-element-prefixes="str">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:param name="intraItemDelimiter" select="'@&amp;@'"/>
  <xsl:param name="interItemDelimiter" select="'$&amp;$'"/>
  <xsl:param name="imageStr" select="''"/>

  <xsl:template match="/">
    <bundle>
      <xsl:for-each select="str:split($imageStr, $interItemDelimiter)[contains(., 'NUID:')]">
        <object id="{position() - 1}">
          <xsl:for-each select="str:split(., $intraItemDelimiter)">
            <xsl:choose>
              <xsl:when test="starts-with(., 'NUID:')">
                <content><xsl:value-of select="substring-after(., 'NUID:')"/></content>
              </xsl:when>
              <xsl:when test="starts-with(., 'Filename:')">
                <caption kind="basic"><xsl:value-of select="substring-after(., 'Filename:')"/></caption>
              </xsl:when>
              <xsl:when test="starts-with(., 'Basic:')">
                <caption kind="basic"><xsl:value-of select="substring-after(., 'Basic:')"/></caption>
              </xsl:when>
              <xsl:when test="starts-with(., 'Additional:')">
                <caption kind="additional"><xsl:value-of select="substring-after(., 'Additional:')"/></caption>
              </xsl:when>
              <xsl:when test="starts-with(., 'Detailed:')">
                <caption kind="detailed"><xsl:value-of select="substring-after(., 'Detailed:')"/></caption>
              </xsl:when>
            </xsl:choose>
          </xsl:for-each>
        </object>
      </xsl:for-each>
    </bundle>
  </xsl:template>
</xsl:stylesheet>
