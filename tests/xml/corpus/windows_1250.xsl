<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="windows-1250"/>
  <xsl:template match="/text">
    <věta délka="{string-length(line[1])}">
      <xsl:for-each select="*"><xsl:copy-of select="."/></xsl:for-each>
    </věta>
  </xsl:template>
</xsl:stylesheet>
