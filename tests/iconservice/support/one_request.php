<?php
// One request to the icon service through the tests' own client, from a loopback address of
// the caller's choice, for the shell scripts (tests/iconservice/run_production.sh,
// bench/iconservice_attacks.sh). Prints "STATUS BODY".
//
//   php one_request.php PORT FROM exist NAME VERSION
//   php one_request.php PORT FROM upload NAME VERSION SEED    the icon: a PNG frame made from SEED
//   php one_request.php PORT FROM health
//   php one_request.php PORT FROM digest SEED                 prints the upload's icon's SHA-256 digest
declare(strict_types=1);

require_once __DIR__ . '/../bootstrap.php';

use IconService\Tests\IconFactory;
use IconService\Tests\RawHttp;

[, $port, $from, $what] = $argv;
$rest = array_slice($argv, 4);
// PNG frames: apart from the bitmap icons that the load generator and the gallery's rows store.
$icon = static fn (int $seed): string => IconFactory::ico([['data' => IconFactory::pngImage(48, $seed), 'size' => 48]]);
if ($what === 'digest') {
    echo hash('sha256', $icon((int) $rest[0])), "\n";
    exit(0);
}
$http = new RawHttp('127.0.0.1', (int) $port, $from);
$reply = match ($what) {
    'exist' => $http->postForm('/index.php?r=sw/exist', '&name=' . RawHttp::encodeValue($rest[0]) . '&version=' . RawHttp::encodeValue($rest[1])),
    'upload' => $http->postUpload('/index.php?r=sw/upload', ['name' => $rest[0], 'version' => $rest[1]], $icon((int) $rest[2])),
    'health' => $http->get('/index.php?r=sw/health'),
};
echo $reply['status'], ' ', $reply['body'], "\n";
