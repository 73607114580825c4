<?php
// Storage of received icons: one database row per software name and version, the ICO bytes in a
// file named after their SHA-256 digest.
//
// The SQL is kept to what SQLite and PostgreSQL share (the upsert included); only the
// identity column differs. A row names its icon file only once that file is complete: the file
// is written under a temporary name and renamed into place inside the transaction that inserts
// or updates the row, so a failure leaves either the old row or none, never a row whose file is
// missing or partial. A file left behind by a rolled-back transaction is harmless: it is named by
// its content and is reused by the next upload of the same bytes.
declare(strict_types=1);

namespace IconService;

final class Storage
{
    private const TABLE = 'talvenook_icons';
    private const BUSY_TIMEOUT_SECONDS = 30;

    private \PDO $db;

    /**
     * Connects to $dsn and creates the table when missing.
     * $iconFolder: folder of the ICO files, created when missing.
     */
    public function __construct(string $dsn, ?string $user, ?string $password, private string $iconFolder)
    {
        $isSqlite = str_starts_with($dsn, 'sqlite:');
        if ($isSqlite) {
            self::ensureFolder(dirname(substr($dsn, strlen('sqlite:'))));
        }
        self::ensureFolder($iconFolder);
        $options = [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION];
        if ($isSqlite) {
            // Concurrent writers wait for the lock instead of failing at once.
            $options[\PDO::ATTR_TIMEOUT] = self::BUSY_TIMEOUT_SECONDS;
        }
        $this->db = new \PDO($dsn, $user, $password, $options);
        if ($isSqlite) {
            $this->useWriteAheadLog();
        }
        $this->createTable($isSqlite);
    }

    /** True when an icon is stored for exactly this name and version. */
    public function exists(string $name, string $version): bool
    {
        $query = $this->db->prepare('SELECT 1 FROM ' . self::TABLE . ' WHERE name = ? AND version = ?');
        $query->execute([$name, $version]);
        return $query->fetchColumn() !== false;
    }

    /**
     * Stores $icoBytes as the icon of $name and $version. A second upload of the same name and
     * version replaces the icon and its time of upload and keeps the one row. Throws on failure,
     * leaving the stored state as it was.
     */
    public function store(string $name, string $version, string $icoBytes): void
    {
        $digest = hash('sha256', $icoBytes);
        $this->db->beginTransaction();
        try {
            $this->writeIconFile($digest, $icoBytes);
            $upsert = $this->db->prepare('INSERT INTO ' . self::TABLE
                . ' (name, version, icon_sha256, icon_size, uploaded_at) VALUES (?, ?, ?, ?, ?)'
                . ' ON CONFLICT (name, version) DO UPDATE SET icon_sha256 = excluded.icon_sha256,'
                . ' icon_size = excluded.icon_size, uploaded_at = excluded.uploaded_at');
            $upsert->bindValue(1, $name);
            $upsert->bindValue(2, $version);
            $upsert->bindValue(3, $digest);
            $upsert->bindValue(4, strlen($icoBytes), \PDO::PARAM_INT);
            $upsert->bindValue(5, self::nowMilliseconds(), \PDO::PARAM_INT);
            $upsert->execute();
            $this->db->commit();
        } catch (\Throwable $error) {
            if ($this->db->inTransaction()) {
                $this->db->rollBack();
            }
            throw $error;
        }
    }

    /** Number of stored icons. */
    public function count(): int
    {
        return (int) $this->db->query('SELECT COUNT(*) FROM ' . self::TABLE)->fetchColumn();
    }

    /**
     * Up to $limit stored icons, newest upload first, skipping $offset.
     * Each: ['id' => int, 'name' => string, 'version' => string, 'size' => int,
     * 'uploaded_at' => int milliseconds since 1970 UTC].
     */
    public function newest(int $offset, int $limit): array
    {
        $query = $this->db->prepare('SELECT id, name, version, icon_size, uploaded_at FROM ' . self::TABLE
            . ' ORDER BY uploaded_at DESC, id DESC LIMIT ? OFFSET ?');
        $query->bindValue(1, $limit, \PDO::PARAM_INT);
        $query->bindValue(2, $offset, \PDO::PARAM_INT);
        $query->execute();
        $rows = [];
        foreach ($query->fetchAll(\PDO::FETCH_NUM) as [$id, $name, $version, $size, $uploadedAt]) {
            $rows[] = ['id' => (int) $id, 'name' => $name, 'version' => $version,
                'size' => (int) $size, 'uploaded_at' => (int) $uploadedAt];
        }
        return $rows;
    }

    /** The ICO bytes of row $id, or null when there is no such row or its file is unreadable. */
    public function iconBytes(int $id): ?string
    {
        $query = $this->db->prepare('SELECT icon_sha256 FROM ' . self::TABLE . ' WHERE id = ?');
        $query->bindValue(1, $id, \PDO::PARAM_INT);
        $query->execute();
        $digest = $query->fetchColumn();
        if (!is_string($digest)) {
            return null;
        }
        $bytes = @file_get_contents($this->iconPath(trim($digest)));
        return $bytes === false ? null : $bytes;
    }

    private function createTable(bool $isSqlite): void
    {
        $id = $isSqlite ? 'id INTEGER PRIMARY KEY AUTOINCREMENT'
            : 'id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY';
        $sql = 'CREATE TABLE IF NOT EXISTS ' . self::TABLE . " ($id,"
            . ' name VARCHAR(255) NOT NULL, version VARCHAR(64) NOT NULL,'
            . ' icon_sha256 CHAR(64) NOT NULL, icon_size INTEGER NOT NULL, uploaded_at BIGINT NOT NULL,'
            . ' CONSTRAINT talvenook_icons_name_version UNIQUE (name, version))';
        try {
            $this->db->exec($sql);
        } catch (\PDOException $error) {
            // Two first requests racing to create the table: PostgreSQL lets one of them fail
            // with a duplicate-object error even under IF NOT EXISTS. The table is there now.
            $this->db->query('SELECT 1 FROM ' . self::TABLE . ' WHERE 1 = 0');
        }
    }

    private function useWriteAheadLog(): void
    {
        // Readers (exist queries, the gallery) then never block the writer. Switching needs a
        // moment alone with the database; if others hold it, the mode stays as it is and the
        // busy timeout still serialises the writers correctly.
        try {
            $this->db->exec('PRAGMA journal_mode = WAL');
        } catch (\PDOException) {
        }
    }

    private function writeIconFile(string $digest, string $bytes): void
    {
        $temporary = @tempnam($this->iconFolder, '.upload-');
        // tempnam falls back to the system's temporary folder when it cannot use the one given;
        // a rename from there would not be atomic, so only a file beside the target will do.
        if ($temporary === false || dirname($temporary) !== realpath($this->iconFolder)) {
            if ($temporary !== false) {
                unlink($temporary);
            }
            throw new \RuntimeException('cannot create a temporary file in ' . $this->iconFolder);
        }
        try {
            if (file_put_contents($temporary, $bytes) !== strlen($bytes)) {
                throw new \RuntimeException("cannot write $temporary");
            }
            chmod($temporary, 0644);
            if (!rename($temporary, $this->iconPath($digest))) {
                throw new \RuntimeException("cannot rename $temporary");
            }
        } finally {
            if (file_exists($temporary)) {
                unlink($temporary);
            }
        }
    }

    private function iconPath(string $digest): string
    {
        return $this->iconFolder . '/' . $digest . '.ico';
    }

    private static function ensureFolder(string $folder): void
    {
        if (!is_dir($folder) && !@mkdir($folder, 0775, true) && !is_dir($folder)) {
            throw new \RuntimeException("cannot create folder $folder");
        }
    }

    private static function nowMilliseconds(): int
    {
        return (int) floor(microtime(true) * 1000);
    }
}
