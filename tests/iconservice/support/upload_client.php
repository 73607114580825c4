<?php
// One uploading client, run as its own process by the concurrency test and the load benchmark.
// Arguments: port, client number, unique count, shared count.
// Uploads "client <n> icon <i>" for the unique ones and "shared icon <j>" for the shared ones
// (every client uploads the same shared names), interleaved, each with its own pixels.
// Prints one JSON line: {"ok":N,"failed":N,"seconds":S,"errors":[first few]}.
declare(strict_types=1);

require_once __DIR__ . '/../bootstrap.php';

use IconService\Tests\IconFactory;
use IconService\Tests\RawHttp;

[, $port, $client, $unique, $shared] = array_map('intval', $argv);
$http = new RawHttp('127.0.0.1', $port);
$ok = 0;
$errors = [];
$started = microtime(true);
$total = $unique + $shared;
for ($i = 0, $u = 0, $s = 0; $i < $total; ++$i) {
    // Spread the shared names over the run so that clients collide on them at the same time.
    $takeShared = $s < $shared && ($u >= $unique || $i * $shared >= $s * $total);
    $name = $takeShared ? 'shared icon ' . $s++ : "client $client icon " . $u++;
    try {
        $reply = $http->postUpload('/index.php?r=sw/upload', ['name' => $name, 'version' => '1.0.0.0'],
            IconFactory::programIcon(crc32($name) & 0xFF));
        if ($reply['status'] === 200 && $reply['body'] === '{"success":true}') {
            ++$ok;
            continue;
        }
        $errors[] = "$name: {$reply['status']} {$reply['body']}";
    } catch (Throwable $error) {
        $errors[] = "$name: " . $error->getMessage();
    }
}
echo json_encode(['ok' => $ok, 'failed' => $total - $ok, 'seconds' => round(microtime(true) - $started, 3),
    'errors' => array_slice($errors, 0, 5)]), "\n";
