<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/">
    <toc><xsl:apply-templates select="//title"/></toc>
  </xsl:template>
  <xsl:template match="title">
    <entry>
      <xsl:attribute name="n"><xsl:number level="multiple" count="chapter|section" format="1.a"/></xsl:attribute>
      <xsl:attribute name="any"><xsl:number level="any" count="title" format="i"/></xsl:attribute>
      <xsl:attribute name="grouped"><xsl:number value="1000000 + position()" grouping-separator="," grouping-size="3"/></xsl:attribute>
      <xsl:value-of select="."/>
    </entry>
  </xsl:template>
</xsl:stylesheet>
