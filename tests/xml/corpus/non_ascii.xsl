<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/greetings">
    <přehled počet="{count(g)}">
      <xsl:for-each select="g">
        <xsl:sort select="@lang"/>
        <pozdrav jazyk="{@title}">«<xsl:value-of select="."/>» — <xsl:value-of select="string-length(.)"/></pozdrav>
      </xsl:for-each>
    </přehled>
  </xsl:template>
</xsl:stylesheet>
