<?xml version="1.0" encoding="UTF-8"?>
<!-- Turns a (signed or unsigned) leave request into a short HTML summary for the reviewer. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:v="urn:example:vloga:1"
                xmlns:ds="http://www.w3.org/2000/09/xmldsig#"
                exclude-result-prefixes="v ds">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/v:vloga">
    <html>
      <head><title>Vloga</title></head>
      <body>
        <h1>Vloga za <xsl:value-of select="v:zahtevek/@vrsta"/></h1>
        <p><xsl:value-of select="v:vlagatelj/v:ime"/>&#160;<xsl:value-of select="v:vlagatelj/v:priimek"/>,
           <xsl:value-of select="v:vlagatelj/v:naslov"/></p>
        <p>Od <xsl:value-of select="v:zahtevek/v:od"/> do <xsl:value-of select="v:zahtevek/v:do"/>:
           <xsl:value-of select="v:zahtevek/v:obrazložitev"/></p>
        <p>
          <xsl:choose>
            <xsl:when test="ds:Signature">Podpisano.</xsl:when>
            <xsl:otherwise>Ni podpisano.</xsl:otherwise>
          </xsl:choose>
        </p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
