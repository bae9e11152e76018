<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/list">
    <xsl:for-each select="i">
      <xsl:value-of select="concat(position(), '. ', .)"/>
      <xsl:text>&#10;</xsl:text>
    </xsl:for-each>
    <xsl:text>total: </xsl:text><xsl:value-of select="count(i)"/>
  </xsl:template>
</xsl:stylesheet>
