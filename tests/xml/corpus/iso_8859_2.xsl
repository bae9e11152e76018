<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output encoding="ISO-8859-2"/>
  <xsl:template match="/text">
    <zdanie miasto="{line[2]}">
      <xsl:copy-of select="line[1] | quote"/>
    </zdanie>
  </xsl:template>
</xsl:stylesheet>
