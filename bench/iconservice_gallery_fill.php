<?php
// Fills a PostgreSQL database of the icon service with COUNT gallery rows for the gallery's
// timings (256 distinct icons, rows uploaded a second apart, the oldest first), in one
// statement, so that a million rows take seconds; then prints the gallery addresses of the
// PAGES oldest pages, one a line, oldest last (what a crawler at the end of the gallery asks for).
//
//   php bench/iconservice_gallery_fill.php DSN DB_USER COUNT [PAGES]
//
// Used by bench/iconservice_load_gallery.php and bench/iconservice_attacks.sh.
declare(strict_types=1);

require_once __DIR__ . '/../tests/iconservice/bootstrap.php';

use IconService\Database;
use IconService\GalleryView;
use IconService\Tests\IconFactory;

/** Adds $count rows named "Gallery program N" to the database of $db (PostgreSQL). */
function fillGallery(Database $db, int $count): void
{
    $db->createSchema();
    $db->write(function () use ($db, $count): void {
        $digests = [];
        for ($seed = 0; $seed < 256; ++$seed) {
            $icon = IconFactory::programIcon($seed);
            $db->putBlob(hash('sha256', $icon), $icon);
            $digests[] = sprintf("(%d, '%s', %d)", $seed, hash('sha256', $icon), strlen($icon));
        }
        $db->pdo->exec('INSERT INTO ' . Database::TABLE . ' (name, version, icon_sha256, icon_size, uploaded_at)'
            . " SELECT 'Gallery program ' || i, '1.0.0.' || (i % 100), d.sha256, d.size, 1700000000000 + i * 1000"
            . ' FROM generate_series(0, ' . ($count - 1) . ') AS i JOIN (VALUES ' . implode(', ', $digests)
            . ') AS d (seed, sha256, size) ON d.seed = i % 256');
    });
    $db->pdo->exec('ANALYZE ' . Database::TABLE);
}

/** The gallery addresses of the $pages oldest pages of the database of $db, the oldest last. */
function oldestPages(Database $db, int $pages): array
{
    $keys = $db->pdo->query('SELECT uploaded_at, id FROM ' . Database::TABLE . ' ORDER BY uploaded_at, id LIMIT '
        . ($pages * GalleryView::PAGE_SIZE + 1))->fetchAll(\PDO::FETCH_NUM);
    $targets = [];
    // With the rows oldest first, the P-th page from the end shows rows (P-1)*60 to P*60-1: the
    // rows uploaded before row P*60, which its link names.
    for ($page = $pages; $page >= 1; --$page) {
        $key = $keys[$page * GalleryView::PAGE_SIZE] ?? null;
        if ($key !== null) {
            $targets[] = "/index.php?r=sw/gallery&before=$key[0]-$key[1]";
        }
    }
    return $targets;
}

if (realpath($argv[0]) === __FILE__) {
    [, $dsn, $user, $count] = $argv;
    $db = new Database(new PDO($dsn, $user, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]));
    fillGallery($db, (int) $count);
    echo implode("\n", oldestPages($db, (int) ($argv[4] ?? 10))), "\n";
}
