<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:exsl="http://exslt.org/common" xmlns:str="http://exslt.org/strings"
                xmlns:math="http://exslt.org/math" exclude-result-prefixes="exsl str math">
  <xsl:template match="/data">
    <xsl:variable name="values">
      <xsl:for-each select="csv">
        <xsl:for-each select="str:tokenize(., ',')"><v><xsl:value-of select="."/></v></xsl:for-each>
      </xsl:for-each>
    </xsl:variable>
    <stats count="{count(exsl:node-set($values)/v)}" max="{math:max(exsl:node-set($values)/v)}">
      <xsl:copy-of select="exsl:node-set($values)/v[. &gt; 2]"/>
    </stats>
  </xsl:template>
</xsl:stylesheet>
