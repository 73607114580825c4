<?php
// Verdict and figures of bench/iconservice_load.sh: reads the clients' reports and the stored
// rows, checks every upload answered success, every name is stored once with the bytes its
// client sent, no icon file is left that no row names, and prints throughput. Exit status 1 when anything was lost or doubled.
declare(strict_types=1);

require_once __DIR__ . '/../tests/iconservice/bootstrap.php';

use IconService\Tests\IconFactory;

[, $work, $clients, $unique, $shared, $start, $end] = $argv;
[$clients, $unique, $shared] = [(int) $clients, (int) $unique, (int) $shared];
$seconds = (float) $end - (float) $start;

$ok = 0;
$failed = 0;
$clientSeconds = [];
foreach (range(0, $clients - 1) as $c) {
    $report = json_decode((string) @file_get_contents("$work/client-$c.json"), true) ?? ['ok' => 0, 'failed' => $unique + $shared, 'seconds' => 0, 'errors' => ['no report']];
    $ok += $report['ok'];
    $failed += $report['failed'];
    $clientSeconds[] = $report['seconds'];
    foreach ($report['errors'] as $error) {
        echo "  client $c: $error\n";
    }
}

$db = new PDO("sqlite:$work/data/icons.sqlite", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
$rows = (int) $db->query('SELECT COUNT(*) FROM talvenook_icons')->fetchColumn();
$doubled = (int) $db->query('SELECT COUNT(*) FROM (SELECT name, version FROM talvenook_icons GROUP BY name, version HAVING COUNT(*) > 1) d')->fetchColumn();
$wrongBytes = 0;
$storage = IconService\Storage::open("sqlite:$work/data/icons.sqlite", null, null, "$work/data/icons");
foreach ($db->query('SELECT id, name FROM talvenook_icons')->fetchAll(PDO::FETCH_NUM) as [$id, $name]) {
    if ($storage->iconBytes((int) $id) !== IconFactory::programIcon(crc32($name) & 0xFF)) {
        ++$wrongBytes;
    }
}
$named = array_flip(array_map('trim', $db->query('SELECT DISTINCT icon_sha256 FROM talvenook_icons')->fetchAll(PDO::FETCH_COLUMN)));
$files = array_map(static fn (string $f): string => basename($f, '.ico'), glob("$work/data/icons/*.ico") ?: []);
$orphans = count(array_diff_key(array_flip($files), $named)) + count(glob("$work/data/icons/.upload-*") ?: []);
$expectedRows = $clients * $unique + $shared;
$uploads = $clients * ($unique + $shared);

printf("  uploads: %d answered success, %d failed, of %d\n", $ok, $failed, $uploads);
printf("  rows: %d stored, %d expected; name+version stored twice: %d; rows with wrong bytes: %d\n",
    $rows, $expectedRows, $doubled, $wrongBytes);
printf("  icon files: %d, named by no row: %d\n", count($files), $orphans);
printf("  time: %.2f s wall, %.0f uploads/s; slowest client %.2f s, fastest %.2f s\n",
    $seconds, $uploads / max($seconds, 0.001), max($clientSeconds), min($clientSeconds));
$good = $ok === $uploads && $rows === $expectedRows && $doubled === 0 && $wrongBytes === 0 && $orphans === 0;
echo $good ? "  verdict: nothing lost, no duplicate rows, no orphan files\n" : "  verdict: FAILED\n";
exit($good ? 0 : 1);
