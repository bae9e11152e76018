<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders the scholarship application, signed or not, as a page for the reviewer. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:v="urn:quillbox:demo:vloga:1"
                xmlns:ds="http://www.w3.org/2000/09/xmldsig#"
                exclude-result-prefixes="v ds">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/v:vloga">
    <html>
      <head>
        <title>Vloga za štipendijo</title>
        <style>body{font-family:sans-serif;margin:1rem} th{text-align:left;padding-right:1rem}</style>
      </head>
      <body>
        <h1>Vloga za dodelitev štipendije</h1>
        <table>
          <tr><th>Ime in priimek</th><td><xsl:value-of select="v:vlagatelj/v:ime"/></td></tr>
          <tr><th>Naslov</th><td><xsl:value-of select="v:vlagatelj/v:naslov"/></td></tr>
          <tr><th>EMŠO</th><td><xsl:value-of select="v:vlagatelj/v:emso"/></td></tr>
          <tr><th>Znesek</th><td><xsl:value-of select="v:zahtevek/v:znesek"/> EUR</td></tr>
          <tr><th>Opombe</th><td><xsl:value-of select="v:zahtevek/v:opombe"/></td></tr>
          <tr><th>Izpolnjeno</th><td><xsl:value-of select="v:izpolnjeno"/></td></tr>
        </table>
        <p>
          <xsl:choose>
            <xsl:when test="ds:Signature">Podpisal: <xsl:value-of select="ds:Signature//ds:X509SubjectName"/></xsl:when>
            <xsl:otherwise>Vloga še ni podpisana.</xsl:otherwise>
          </xsl:choose>
        </p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
