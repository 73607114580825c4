<?php
// Gallery timing of bench/iconservice_load.sh (GALLERY=1): fills the service's database with
// COUNT icons (256 distinct images, as many rows as asked; bench/iconservice_gallery_fill.php),
// then times gallery pages through the deployment on 127.0.0.1:PORT (the first, one in the
// middle and the last, each by the key its link carries, 20 times each, a fresh connection
// each time) and fetches one page's icons twice as a browser would: the first visit gets them,
// the second asks with If-None-Match and must get 304 for every one.
//
//   php bench/iconservice_load_gallery.php DSN DB_USER PORT COUNT
//
// Exit status 1 when a page fails or an icon of the second visit is not 304.
declare(strict_types=1);

require_once __DIR__ . '/iconservice_gallery_fill.php';

use IconService\Database;
use IconService\Tests\RawHttp;

[, $dsn, $user, $port, $count] = $argv;
[$port, $count] = [(int) $port, (int) $count];
$db = new Database(new PDO($dsn, $user, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]));
fillGallery($db, $count);
$middle = $db->pdo->query('SELECT uploaded_at, id FROM ' . Database::TABLE . ' ORDER BY uploaded_at, id LIMIT 1 OFFSET '
    . intdiv($count, 2))->fetch(PDO::FETCH_NUM);
$pages = ['first' => '/index.php?r=sw/gallery', 'middle' => "/index.php?r=sw/gallery&before=$middle[0]-$middle[1]",
    'last' => oldestPages($db, 1)[0]];

$http = new RawHttp('127.0.0.1', $port);
$failed = false;
foreach ($pages as $which => $page) {
    $times = [];
    for ($run = 0; $run < 20; ++$run) {
        $start = microtime(true);
        $reply = $http->get($page);
        $times[] = (microtime(true) - $start) * 1000;
        $failed = $failed || $reply['status'] !== 200 || substr_count($reply['body'], '<img ') !== min(60, $count);
    }
    sort($times);
    printf("gallery, %s page (%d icons): median %.1f ms, slowest %.1f ms over 20 requests\n", $which, $count, $times[10], $times[19]);
}

preg_match_all('#<img src="([^"]+)"#', $http->get('/index.php?r=sw/gallery')['body'], $match);
$sources = array_map(static fn (string $src): string => '/' . html_entity_decode($src), $match[1]);
$tags = [];
$start = microtime(true);
foreach ($sources as $src) {
    $reply = $http->get($src);
    $failed = $failed || $reply['status'] !== 200;
    $tags[$src] = $reply['headers']['etag'] ?? '';
}
$first = (microtime(true) - $start) * 1000;
$notModified = 0;
$start = microtime(true);
foreach ($sources as $src) {
    $notModified += $http->get($src, ['If-None-Match' => $tags[$src]])['status'] === 304 ? 1 : 0;
}
$second = (microtime(true) - $start) * 1000;
printf("icons of page 1: first visit %d icons in %.1f ms; second visit %d of %d answered 304 in %.1f ms\n",
    count($sources), $first, $notModified, count($sources), $second);
exit($failed || $notModified !== count($sources) ? 1 : 0);
