<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/scores">
    <table>
      <xsl:for-each select="player">
        <xsl:sort select="@points" data-type="number" order="descending"/>
        <xsl:sort select="@name" data-type="text" order="ascending"/>
        <row rank="{position()}"><xsl:value-of select="@name"/></row>
      </xsl:for-each>
      <by-name>
        <xsl:for-each select="player">
          <xsl:sort select="translate(@name, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')"/>
          <xsl:value-of select="@name"/>
          <xsl:if test="position() != last()">,</xsl:if>
        </xsl:for-each>
      </by-name>
    </table>
  </xsl:template>
</xsl:stylesheet>
