<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform" xmlns:t="urn:example:table"
                exclude-result-prefixes="t">
  <!-- a lookup table kept in the stylesheet itself and read back with document('') -->
  <t:names>
    <t:name code="1">open</t:name>
    <t:name code="2">in progress</t:name>
    <t:name code="3">closed</t:name>
  </t:names>
  <xsl:variable name="names" select="document('')/*/t:names/t:name"/>
  <xsl:template match="/statuses">
    <report>
      <xsl:for-each select="s">
        <status code="{@code}">
          <xsl:value-of select="$names[@code = current()/@code]"/>
          <xsl:if test="not($names[@code = current()/@code])">unknown</xsl:if>
        </status>
      </xsl:for-each>
    </report>
  </xsl:template>
</xsl:stylesheet>
