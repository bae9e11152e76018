<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:key name="by-customer" match="order" use="@customer"/>
  <xsl:key name="customer" match="customer" use="@code"/>
  <xsl:template match="/orders">
    <summary>
      <!-- one group per customer, in document order of first appearance -->
      <xsl:for-each select="order[generate-id() = generate-id(key('by-customer', @customer)[1])]">
        <customer name="{key('customer', @customer)}" orders="{count(key('by-customer', @customer))}"
                  total="{sum(key('by-customer', @customer)/@total)}"/>
      </xsl:for-each>
    </summary>
  </xsl:template>
</xsl:stylesheet>
