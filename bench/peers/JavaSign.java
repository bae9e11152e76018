// The Java platform's XML signature API making the same enveloped signature, timed in one JVM
// after warm-up. Each timed run parses the document bytes, signs and serialises to bytes.
//
//   java JavaSign KEYSTORE.p12 PASSWORD OUTDIR RUNS label=path...
// Warm-up: as many untimed runs as fit in about 8 MB of input, 1 to 50.
// prints "label run-index nanoseconds" per timed run and writes OUTDIR/java-label.xml.
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.cert.X509Certificate;
import java.util.Collections;
import java.util.List;
import javax.xml.crypto.dsig.CanonicalizationMethod;
import javax.xml.crypto.dsig.DigestMethod;
import javax.xml.crypto.dsig.Reference;
import javax.xml.crypto.dsig.SignedInfo;
import javax.xml.crypto.dsig.Transform;
import javax.xml.crypto.dsig.XMLSignature;
import javax.xml.crypto.dsig.XMLSignatureFactory;
import javax.xml.crypto.dsig.dom.DOMSignContext;
import javax.xml.crypto.dsig.keyinfo.KeyInfo;
import javax.xml.crypto.dsig.keyinfo.KeyInfoFactory;
import javax.xml.crypto.dsig.keyinfo.X509Data;
import javax.xml.crypto.dsig.spec.C14NMethodParameterSpec;
import javax.xml.crypto.dsig.spec.TransformParameterSpec;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.transform.TransformerFactory;
import javax.xml.transform.dom.DOMSource;
import javax.xml.transform.stream.StreamResult;
import org.w3c.dom.Document;

public final class JavaSign {
  private final XMLSignatureFactory factory = XMLSignatureFactory.getInstance("DOM");
  private final PrivateKey key;
  private final KeyInfo keyInfo;

  private JavaSign(PrivateKey key, X509Certificate cert) {
    this.key = key;
    KeyInfoFactory kif = factory.getKeyInfoFactory();
    X509Data data = kif.newX509Data(Collections.singletonList(cert));
    this.keyInfo = kif.newKeyInfo(Collections.singletonList(data));
  }

  byte[] sign(byte[] text) throws Exception {
    DocumentBuilderFactory dbf = DocumentBuilderFactory.newInstance();
    dbf.setNamespaceAware(true);
    Document doc = dbf.newDocumentBuilder().parse(new ByteArrayInputStream(text));
    Reference ref = factory.newReference("", factory.newDigestMethod(DigestMethod.SHA1, null),
        Collections.singletonList(factory.newTransform(Transform.ENVELOPED, (TransformParameterSpec) null)), null, null);
    SignedInfo si = factory.newSignedInfo(
        factory.newCanonicalizationMethod(CanonicalizationMethod.INCLUSIVE, (C14NMethodParameterSpec) null),
        factory.newSignatureMethod("http://www.w3.org/2000/09/xmldsig#rsa-sha1", null), List.of(ref));
    XMLSignature signature = factory.newXMLSignature(si, keyInfo);
    signature.sign(new DOMSignContext(key, doc.getDocumentElement()));
    ByteArrayOutputStream out = new ByteArrayOutputStream(text.length + 4096);
    TransformerFactory.newInstance().newTransformer().transform(new DOMSource(doc), new StreamResult(out));
    return out.toByteArray();
  }

  public static void main(String[] args) throws Exception {
    KeyStore store = KeyStore.getInstance("PKCS12");
    try (FileInputStream in = new FileInputStream(args[0])) {
      store.load(in, args[1].toCharArray());
    }
    String alias = store.aliases().nextElement();
    JavaSign signer = new JavaSign((PrivateKey) store.getKey(alias, args[1].toCharArray()),
        (X509Certificate) store.getCertificate(alias));
    Path outDir = Path.of(args[2]);
    int runs = Integer.parseInt(args[3]);
    for (int i = 4; i < args.length; i++) {
      String label = args[i].substring(0, args[i].indexOf('='));
      byte[] text = Files.readAllBytes(Path.of(args[i].substring(args[i].indexOf('=') + 1)));
      byte[] signed = null;
      int warmup = (int) Math.max(1, Math.min(50, (8L << 20) / Math.max(1, text.length)));
      for (int w = 0; w < warmup; w++) signed = signer.sign(text);
      for (int r = 0; r < runs; r++) {
        long start = System.nanoTime();
        signed = signer.sign(text);
        long stop = System.nanoTime();
        System.out.println(label + " " + r + " " + (stop - start));
      }
      Files.write(outDir.resolve("java-" + label + ".xml"), signed);
      System.out.flush();
    }
  }
}
