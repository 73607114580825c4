<?php
// Verdict of a load run (bench/iconservice_load.sh, the production fault tests): reads the
// generator's list of uploads answered {"success":true} and the service's database, and checks
// that each of them is stored, once, with the bytes the desktop sent, that no name and version
// is stored twice, and that every stored icon is named by a row and stored once.
//
//   php bench/iconservice_load_check.php UPLOADS_FILE DSN [DB_USER]
//
// Prints one line "check: ..." and exits 1 when anything was lost or doubled.
declare(strict_types=1);

require_once __DIR__ . '/../tests/iconservice/bootstrap.php';

use IconService\Tests\IconFactory;

[, $uploadsFile, $dsn] = $argv;
$user = $argv[3] ?? null;
$db = new PDO($dsn, $user, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);

$expected = [];
$answered = 0;
foreach (file($uploadsFile, FILE_IGNORE_NEW_LINES | FILE_SKIP_EMPTY_LINES) ?: [] as $line) {
    [$name, $version, $seed] = explode("\t", $line);
    $expected["$name\0$version"] = (int) $seed;
    ++$answered;
}

$stored = [];
$query = $db->query('SELECT i.name, i.version, b.icon FROM talvenook_icons i LEFT JOIN talvenook_icon_blobs b'
    . ' ON b.icon_sha256 = i.icon_sha256');
while (($row = $query->fetch(PDO::FETCH_NUM)) !== false) {
    $key = "$row[0]\0$row[1]";
    $stored[$key] = ($stored[$key] ?? 0) + 1;
    if (isset($expected[$key]) && IconService\Database::bytes($row[2]) !== IconFactory::programIcon($expected[$key])) {
        $wrong[] = $row[0];
    }
}
$lost = count(array_diff_key($expected, $stored));
$doubled = count(array_filter($stored, static fn (int $n): bool => $n > 1));
$wrongBytes = count($wrong ?? []);
$unused = (int) $db->query('SELECT COUNT(*) FROM talvenook_icon_blobs b WHERE NOT EXISTS'
    . ' (SELECT 1 FROM talvenook_icons i WHERE i.icon_sha256 = b.icon_sha256)')->fetchColumn();
$unnamed = (int) $db->query('SELECT COUNT(*) FROM talvenook_icons i WHERE NOT EXISTS'
    . ' (SELECT 1 FROM talvenook_icon_blobs b WHERE b.icon_sha256 = i.icon_sha256)')->fetchColumn();

$good = $lost === 0 && $doubled === 0 && $wrongBytes === 0 && $unused === 0 && $unnamed === 0;
printf("check: %d uploads answered success (%d names), %d rows stored; lost %d, doubled %d, wrong bytes %d,"
    . " icons no row names %d, rows without their icon %d: %s\n", $answered, count($expected), array_sum($stored), $lost,
    $doubled, $wrongBytes, $unused, $unnamed, $good ? 'nothing lost or doubled' : 'FAILED');
exit($good ? 0 : 1);
