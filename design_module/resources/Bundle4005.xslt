<?xml version="1.0" encoding="UTF-8"?>
<!-- The picture bundle of a design: one mm-object per entry of imageStr that names an item (entries end
     with interItemDelimiter, their lines with intraItemDelimiter). "NUID:" gives the content property
     (the item id); "Basic:", "Additional:" and "Detailed:" lines give properties of those names when they
     are not empty. Both splits cut at the whole delimiter only. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:str="http://exslt.org/strings" extension-element-prefixes="str">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:param name="intraItemDelimiter" select="'@&amp;@'"/>
  <xsl:param name="interItemDelimiter" select="'$&amp;$'"/>
  <xsl:param name="imageStr" select="''"/>

  <xsl:template match="/">
    <bundle>
      <xsl:for-each select="str:split($imageStr, $interItemDelimiter)[contains(., 'NUID:')]">
        <mm-object mime-type="image/NUID">
          <xsl:for-each select="str:split(., $intraItemDelimiter)">
            <xsl:choose>
              <xsl:when test="starts-with(., 'NUID:')">
                <property name="content" refType="NUID"><xsl:value-of select="substring-after(., 'NUID:')"/></property>
              </xsl:when>
              <xsl:when test="starts-with(., 'Basic:') and string-length(substring-after(., 'Basic:')) &gt; 0">
                <property name="Basic"><xsl:value-of select="substring-after(., 'Basic:')"/></property>
              </xsl:when>
              <xsl:when test="starts-with(., 'Additional:') and string-length(substring-after(., 'Additional:')) &gt; 0">
                <property name="Additional"><xsl:value-of select="substring-after(., 'Additional:')"/></property>
              </xsl:when>
              <xsl:when test="starts-with(., 'Detailed:') and string-length(substring-after(., 'Detailed:')) &gt; 0">
                <property name="Detailed"><xsl:value-of select="substring-after(., 'Detailed:')"/></property>
              </xsl:when>
            </xsl:choose>
          </xsl:for-each>
        </mm-object>
      </xsl:for-each>
    </bundle>
  </xsl:template>
</xsl:stylesheet>
