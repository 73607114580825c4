<?php
// Router for php -S in the browser test: serves a check page beside the service (same origin),
// and leaves every other request to the service's own files.
//
// The check page shows the gallery in a frame and, once every icon has been decoded or has
// failed, writes a JSON report of each image (natural size, decode result) into the element
// #report, which the test reads from Chromium's dumped DOM.
if (parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH) !== '/gallery-check.html') {
    return false;
}
header('Content-Type: text/html; charset=utf-8');
?><!DOCTYPE html>
<html><head><meta charset="utf-8"><title>gallery check</title></head>
<body>
<iframe id="gallery" src="index.php?r=sw/gallery" width="1200" height="900"></iframe>
<pre id="report">pending</pre>
<script>
document.getElementById('gallery').addEventListener('load', async () => {
  const doc = document.getElementById('gallery').contentDocument;
  const images = [...doc.querySelectorAll('ul.icons img')];
  const results = await Promise.all(images.map(async (img) => {
    let decoded = true;
    try { await img.decode(); } catch (e) { decoded = false; }
    return { src: img.getAttribute('src'), alt: img.alt, decoded,
             width: img.naturalWidth, height: img.naturalHeight };
  }));
  const names = [...doc.querySelectorAll('.name')].map((e) => e.textContent);
  const scripts = doc.querySelectorAll('script').length;
  document.getElementById('report').textContent = JSON.stringify({ images: results, names, scripts });
});
</script>
</body></html>
