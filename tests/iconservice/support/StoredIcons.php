<?php
// What the service's database holds, read behind the service's back for the tests' checks: the
// number of rows, a row's icon bytes, the digests of every stored icon.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\Database;

final class StoredIcons
{
    public function __construct(private \PDO $pdo)
    {
    }

    /** Number of stored rows (name and version). */
    public function count(): int
    {
        return (int) $this->pdo->query('SELECT COUNT(*) FROM ' . Database::TABLE)->fetchColumn();
    }

    /** The ICO bytes that row $id names, or null when there is no such row. */
    public function iconBytes(int $id): ?string
    {
        $query = $this->pdo->prepare('SELECT b.icon FROM ' . Database::TABLE . ' i JOIN ' . Database::BLOBS
            . ' b ON b.icon_sha256 = i.icon_sha256 WHERE i.id = ?');
        $query->execute([$id]);
        $column = $query->fetchColumn();
        return $column === false ? null : Database::bytes($column);
    }

    /** The digests of every stored icon, sorted. */
    public function digests(): array
    {
        return array_map('trim', $this->pdo->query('SELECT icon_sha256 FROM ' . Database::BLOBS . ' ORDER BY icon_sha256')
            ->fetchAll(\PDO::FETCH_COLUMN));
    }
}
