<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" indent="no"/>
  <xsl:template match="/library">
    <expensive count="{count(book[@price &gt; 20])}">
      <xsl:apply-templates select="book[@price &gt; 20 and not(@year &lt; 1960)]"/>
    </expensive>
  </xsl:template>
  <xsl:template match="book">
    <title by="{author}"><xsl:value-of select="title"/></title>
  </xsl:template>
</xsl:stylesheet>
