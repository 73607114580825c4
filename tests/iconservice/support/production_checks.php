<?php
// The service's own checks through the production deployment's nginx (run_production.sh): an
// icon over 1 MiB is refused by the service with its reason, a body over nginx's limit gets 413,
// an image bomb is refused, nothing but index.php is served, and the gallery's icons come with
// their digest as ETag and 304 on a second visit. Argument: the port. Prints one line per
// failed check and "checks: N passed, M failed".
declare(strict_types=1);

require_once __DIR__ . '/../bootstrap.php';

use IconService\IcoFile;
use IconService\Tests\IconFactory;
use IconService\Tests\RawHttp;

$http = new RawHttp('127.0.0.1', (int) $argv[1]);
$passed = 0;
$failed = 0;
$check = static function (string $what, mixed $expected, mixed $actual) use (&$passed, &$failed): void {
    if ($expected === $actual) {
        ++$passed;
        return;
    }
    ++$failed;
    echo "FAILED: $what\n  expected: ", json_encode($expected), "\n  actual:   ", json_encode($actual), "\n";
};
$upload = static fn (string $name, string $icon): array =>
    $http->postUpload('/index.php?r=sw/upload', ['name' => $name, 'version' => '1'], $icon);

$huge = IconFactory::ico([['data' => IconFactory::bitmapImage(48) . str_repeat("\0", IcoFile::MAX_BYTES), 'size' => 48]]);
$reply = $upload('Too large', $huge);
$check('an icon over 1 MiB', [400, '{"success":false,"error":"icon file is larger than 1 MiB"}'], [$reply['status'], $reply['body']]);
$check('a body over nginx\'s limit', 413, $upload('Far too large', str_repeat('x', 1_200_000))['status']);
$reply = $upload('Bomb', IconFactory::ico([['data' => IconFactory::pngBomb(30000), 'size' => 256]]));
$check('an image bomb', [400, 'image 0: PNG image is 30000x30000 pixels, outside the ICO limit of 1 to 256'],
    [$reply['status'], json_decode($reply['body'], true)['error'] ?? null]);
foreach (['/lib/Storage.php', '/setup.php', '/deploy/nginx-iconservice.conf', '/index.php/../lib/Config.php', '/data/'] as $target) {
    $check("$target is not served", 404, $http->get($target)['status']);
}
$check('a name with "&", "+", "=", accents and CJK', '{"success":true}', $upload('Café 中文 & +=', IconFactory::programIcon(7))['body']);
$check('and its existence query', '{"success":true,"exist":true}', $http->postForm('/index.php?r=sw/exist',
    '&name=' . RawHttp::encodeValue('Café 中文 & +=') . '&version=1')['body']);
preg_match_all('#<img src="([^"]+)"#', $http->get('/')['body'], $images);
$check('the gallery shows the icons', true, count($images[1]) > 0);
foreach (array_slice($images[1], 0, 5) as $src) {
    $first = $http->get('/' . html_entity_decode($src));
    $again = $http->get('/' . html_entity_decode($src), ['If-None-Match' => $first['headers']['etag'] ?? '']);
    $check("$src: 200, then 304", [200, 'public, max-age=31536000, immutable', 304],
        [$first['status'], $first['headers']['cache-control'] ?? null, $again['status']]);
}
echo "checks: $passed passed, $failed failed\n";
exit($failed === 0 ? 0 : 1);
