<?php
// Storage of icons, run against SQLite, or against PostgreSQL when TALVENOOK_TEST_PG_DSN names
// a server (make test-pg): the same SQL must hold on both.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\Database;
use IconService\Storage;
use PHPUnit\Framework\TestCase;

final class StorageTest extends TestCase
{
    private string $folder;
    private string $dsn;
    private ?string $user = null;
    private ?string $password = null;

    protected function setUp(): void
    {
        $this->folder = TempFolder::create('iconservice-storage-');
        $pg = getenv('TALVENOOK_TEST_PG_DSN');
        if ($pg === false || $pg === '') {
            $this->dsn = "sqlite:{$this->folder}/icons.sqlite";
            return;
        }
        $this->dsn = $pg;
        $this->user = getenv('TALVENOOK_TEST_PG_USER') ?: null;
        $this->database()->exec('DROP TABLE IF EXISTS talvenook_icons');
        $this->database()->exec('DROP TABLE IF EXISTS talvenook_icon_blobs');
    }

    protected function tearDown(): void
    {
        TempFolder::remove($this->folder);
    }

    // Lookups match name and version exactly: case, accents, CJK and spaces all count.
    public function testExistsMatchesExactly(): void
    {
        $storage = $this->storage();
        $storage->store('Café 中文 & Co', '1.0.0.0', IconFactory::programIcon());
        $this->assertTrue($storage->exists('Café 中文 & Co', '1.0.0.0'));
        foreach ([['cafe 中文 & Co', '1.0.0.0'], ['Cafe 中文 & Co', '1.0.0.0'], ['Café 中文 & Co ', '1.0.0.0'],
            ['Café 中文 & Co', '1.0.0'], ['Café', '1.0.0.0']] as [$name, $version]) {
            $this->assertFalse($storage->exists($name, $version), "$name $version");
        }
        $this->assertSame('Café 中文 & Co', $storage->newest(10)[0]['name']);
    }

    // A second store of the same name and version keeps one row, with the newer icon and time,
    // and moves it to the front; other rows stay. The times come from a clock of the test's, so
    // the order does not hang on how fast the machine is.
    public function testSecondStoreReplacesInPlace(): void
    {
        $now = 1_700_000_000_000;
        $storage = $this->storage(static function () use (&$now): int {
            return $now += 1000;
        });
        $storage->store('First', '1', IconFactory::programIcon(1));
        $storage->store('Second', '1', IconFactory::programIcon(2));
        $storage->store('First', '1', IconFactory::programIcon(3));
        $rows = $storage->newest(10);
        $this->assertSame(['First', 'Second'], array_column($rows, 'name'));
        $this->assertSame([1_700_000_003_000, 1_700_000_002_000], array_column($rows, 'uploaded_at'));
        $this->assertSame(2, $this->stored()->count());
        $this->assertSame(IconFactory::programIcon(3), $this->stored()->iconBytes($rows[0]['id']));
        $this->assertSame(IconFactory::programIcon(2), $this->stored()->iconBytes($rows[1]['id']));
        $this->assertNull($this->stored()->iconBytes(999999));
    }

    // Pages by key: walking the "uploaded before this row" keys visits every row once, newest
    // first, also across rows uploaded in the same millisecond (the id breaks the tie); and a
    // page is read along the index on (uploaded_at, id) from its key, with no sort and no scan
    // of the rows before it.
    public function testPagesByKeyNewestFirst(): void
    {
        $times = [5000, 7000, 7000, 7000, 9000, 9000, 11000];
        $next = 0;
        $storage = $this->storage(static function () use (&$next, $times): int {
            return $times[$next++];
        });
        foreach (array_keys($times) as $i) {
            $storage->store("App $i", '1', IconFactory::programIcon($i));
        }
        $names = [];
        $before = null;
        do {
            $page = $storage->newest(3, $before);
            $names = array_merge($names, array_column($page, 'name'));
            $last = end($page);
            $before = $last === false ? null : [$last['uploaded_at'], $last['id']];
        } while (count($page) === 3);
        $this->assertSame(['App 6', 'App 5', 'App 4', 'App 3', 'App 2', 'App 1', 'App 0'], $names);
        $this->assertSame([], $storage->newest(3, [5000, 1]));

        $connection = $this->recordingConnection();
        (new Storage(new Database($connection)))->newest(3, [7000, 3]);
        $db = $this->database();
        $isSqlite = str_starts_with($this->dsn, 'sqlite:');
        if (!$isSqlite) {
            $db->exec('SET enable_seqscan = off');  // a table of 7 rows would be read whole otherwise
        }
        $explain = $db->prepare(($isSqlite ? 'EXPLAIN QUERY PLAN ' : 'EXPLAIN ') . end($connection->statements));
        $explain->execute([7000, 3, 3]);
        $plan = implode("\n", array_map(static fn (array $row): string => (string) end($row), $explain->fetchAll(\PDO::FETCH_NUM)));
        $this->assertStringContainsString('talvenook_icons_newest', $plan);
        $this->assertStringNotContainsStringIgnoringCase('sort', $plan);
        $this->assertStringNotContainsStringIgnoringCase('B-TREE', $plan);
    }

    // Nothing half-stored: when the database refuses the row, or the icon's bytes, the store
    // fails and the previous state stays exactly as it was.
    public function testFailedStoreLeavesPreviousState(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $db = $this->database();
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $db->exec("CREATE TRIGGER refuse BEFORE UPDATE ON talvenook_icons BEGIN SELECT RAISE(ABORT, 'refused'); END");
            $db->exec("CREATE TRIGGER refuse_new BEFORE INSERT ON talvenook_icons WHEN NEW.name = 'New' BEGIN SELECT RAISE(ABORT, 'refused'); END");
        } else {
            $db->exec("ALTER TABLE talvenook_icons ADD CONSTRAINT refuse CHECK (name <> 'New' AND icon_size <= "
                . strlen(IconFactory::programIcon(1)) . ')');
        }
        // One byte longer than any icon so far: refused by the check constraint as well.
        $this->assertStoreFails(fn () => $storage->store('Kept', '1', IconFactory::programIcon(2) . "\0"));
        $this->assertStoreFails(fn () => $storage->store('New', '1', IconFactory::programIcon(3)));
        $rows = $storage->newest(10);
        $this->assertSame(['Kept'], array_column($rows, 'name'));
        $this->assertSame(IconFactory::programIcon(1), $this->stored()->iconBytes($rows[0]['id']));

        // The bytes refused (a new icon), the row itself acceptable: the row must not stay.
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $db->exec("CREATE TRIGGER refuse_blob BEFORE INSERT ON talvenook_icon_blobs BEGIN SELECT RAISE(ABORT, 'refused'); END");
        } else {
            $db->exec('ALTER TABLE talvenook_icon_blobs ADD CONSTRAINT refuse_blob CHECK (length(icon) < 0) NOT VALID');
        }
        $this->assertStoreFails(fn () => $storage->store('No bytes', '1', IconFactory::programIcon(4)));
        $this->assertFalse($storage->exists('No bytes', '1'));
        $this->assertSame(1, $this->stored()->count());
        $this->assertSame(self::digestsOf([IconFactory::programIcon(1)]), $this->stored()->digests());
    }

    // A commit the database refuses (a deferred constraint, checked only at COMMIT) ends the
    // transaction on the server's side: the store must report the refusal itself, not a failed
    // rollback of a transaction that is no longer there, and the connection stays usable.
    public function testRefusedCommitReportsItsOwnError(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $refusal = 'one_per_size';
        if (str_starts_with($this->dsn, 'sqlite:')) {
            // SQLite checks a deferred foreign key at COMMIT: every new row names an owner 1 that
            // does not exist. The store's connection has foreign keys switched on.
            $this->database()->exec('CREATE TABLE owners (id INTEGER PRIMARY KEY)');
            $this->database()->exec('ALTER TABLE talvenook_icons ADD COLUMN owner INTEGER DEFAULT 1'
                . ' REFERENCES owners (id) DEFERRABLE INITIALLY DEFERRED');
            $connection = $this->database();
            $connection->exec('PRAGMA foreign_keys = ON');
            $storage = new Storage(new Database($connection));
            $refusal = 'FOREIGN KEY constraint failed';
        } else {
            $this->database()->exec('ALTER TABLE talvenook_icons ADD CONSTRAINT one_per_size UNIQUE (icon_size)'
                . ' DEFERRABLE INITIALLY DEFERRED');
        }
        try {
            $storage->store('Same size', '1', IconFactory::programIcon(2));
            $this->fail('the store succeeded');
        } catch (\PDOException $error) {
            $this->assertStringContainsString($refusal, $error->getMessage());
        }
        $this->assertSame(self::digestsOf([IconFactory::programIcon(1)]), $this->stored()->digests(), 'the refused icon is gone');
        $this->assertFalse($storage->exists('Same size', '1'));
        $storage->store('Kept', '1', IconFactory::programIcon(3));
        $this->assertSame(IconFactory::programIcon(3), $this->stored()->iconBytes($storage->newest(1)[0]['id']));
    }

    // Each icon's bytes are stored once, and replaced and refused icons leave nothing behind,
    // while an icon another row still names stays: two names share one icon (same bytes), each
    // replaced in turn; a refused store; a store of bytes already there.
    public function testNoIconOutlivesTheRowsNamingIt(): void
    {
        $storage = $this->storage();
        [$shared, $a2, $b3] = [IconFactory::programIcon(1), IconFactory::programIcon(2), IconFactory::programIcon(3)];
        $storage->store('A', '1', $shared);
        $storage->store('B', '1', $shared);
        $this->assertSame(self::digestsOf([$shared]), $this->stored()->digests());
        $this->assertSame(1, (int) $this->database()->query('SELECT COUNT(*) FROM talvenook_icon_blobs')->fetchColumn());
        $storage->store('A', '1', $a2);
        $this->assertSame(self::digestsOf([$shared, $a2]), $this->stored()->digests(), 'B still names the shared icon');
        $storage->store('B', '1', $b3);
        $this->assertSame(self::digestsOf([$a2, $b3]), $this->stored()->digests(), 'nothing names the shared icon');
        $storage->store('B', '1', $b3);
        $storage->store('C', '1', $a2);
        $this->assertSame(self::digestsOf([$a2, $b3]), $this->stored()->digests());

        $this->refuseName('Refused');
        $this->assertStoreFails(fn () => $storage->store('Refused', '1', IconFactory::programIcon(4)));
        $this->assertStoreFails(fn () => $storage->store('Refused', '1', $a2));
        $this->assertSame(self::digestsOf([$a2, $b3]), $this->stored()->digests());
        $this->assertSame($a2, $this->stored()->iconBytes($storage->newest(1)[0]['id']));
        $this->assertSame($a2, $storage->iconByDigest(hash('sha256', $a2)));
        $this->assertNull($storage->iconByDigest(hash('sha256', $shared)));
    }

    // What a crash or a lost race leaves (an icon no row names) goes in the sweep at start;
    // icons named by rows stay.
    public function testSweepAtStartRemovesUnusedIcons(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        (new Database($this->database()))->putBlob(hash('sha256', IconFactory::programIcon(3)), IconFactory::programIcon(3));
        $this->assertSame(['imported' => 0, 'dropped' => 0, 'removed' => 1], $this->storage()->prepare());
        $this->assertSame(self::digestsOf([IconFactory::programIcon(1)]), $this->stored()->digests());
        $this->assertSame(IconFactory::programIcon(1), $this->stored()->iconBytes($storage->newest(1)[0]['id']));
    }

    // A data folder of the time when icons were files: the set-up takes every row's file over
    // into the database once, reading the files and leaving them as they are; rows whose file
    // is missing or holds other bytes than its name's digest are dropped, so clients send those
    // icons again. A second set-up finds nothing more to do, and the service then works as usual.
    public function testSetUpTakesOverIconFiles(): void
    {
        $db = $this->database();
        $db->exec('CREATE TABLE talvenook_icons (id ' . (str_starts_with($this->dsn, 'sqlite:') ? 'INTEGER PRIMARY KEY AUTOINCREMENT'
            : 'BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY') . ', name VARCHAR(255) NOT NULL, version VARCHAR(64) NOT NULL,'
            . ' icon_sha256 CHAR(64) NOT NULL, icon_size INTEGER NOT NULL, uploaded_at BIGINT NOT NULL,'
            . ' CONSTRAINT talvenook_icons_name_version UNIQUE (name, version))');
        [$shared, $lost, $damaged] = [IconFactory::programIcon(1), IconFactory::programIcon(2), IconFactory::programIcon(3)];
        $folder = "{$this->folder}/old-data/icons";
        mkdir($folder, 0777, true);
        file_put_contents("$folder/" . hash('sha256', $shared) . '.ico', $shared);
        file_put_contents("$folder/" . hash('sha256', $damaged) . '.ico', substr($damaged, 0, 200));
        $insert = $db->prepare('INSERT INTO talvenook_icons (name, version, icon_sha256, icon_size, uploaded_at) VALUES (?, ?, ?, ?, ?)');
        foreach ([['Café 中文', $shared], ['Second name', $shared], ['Lost', $lost], ['Damaged', $damaged]] as $i => [$name, $icon]) {
            $insert->execute([$name, '1', hash('sha256', $icon), strlen($icon), 1_700_000_000_000 + $i]);
        }
        $before = self::folderContents($folder);

        $this->assertSame(['imported' => 1, 'dropped' => 2, 'removed' => 0], $this->storage()->prepare($folder));
        $storage = $this->storage();
        $this->assertSame(['Second name', 'Café 中文'], array_column($storage->newest(10), 'name'));
        foreach ($storage->newest(10) as $row) {
            $this->assertSame($shared, $this->stored()->iconBytes($row['id']), $row['name']);
        }
        $this->assertFalse($storage->exists('Lost', '1'));
        $this->assertSame($before, self::folderContents($folder), 'the files are left as they were');

        $this->assertSame(['imported' => 0, 'dropped' => 0, 'removed' => 0], $this->storage()->prepare($folder));
        $storage->store('Lost', '1', $lost);
        $this->assertSame(self::digestsOf([$shared, $lost]), $this->stored()->digests());
    }

    // The attack on the removal: processes storing the same bytes under names of their own and
    // replacing them at once, so the shared file is named by no row again and again while
    // another process is placing it. What must hold: every store can read back its file at once,
    // and at the end exactly the named files remain.
    public function testConcurrentReplacementsNeverRemoveANamedFile(): void
    {
        $this->storage()->newest(1);
        $workers = [];
        for ($w = 0; $w < 4; ++$w) {
            $workers[] = proc_open([PHP_BINARY, __DIR__ . '/support/replace_worker.php', $this->dsn, $this->user ?? '',
                $this->password ?? '', (string) $w, '15'], [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes[$w]);
        }
        foreach ($workers as $w => $process) {
            $report = trim(stream_get_contents($pipes[$w][1]));
            $errors = stream_get_contents($pipes[$w][2]);
            proc_close($process);
            $this->assertSame('ok', $report, "worker $w: $errors");
        }
        $named = array_map('trim', $this->database()->query('SELECT DISTINCT icon_sha256 FROM talvenook_icons')->fetchAll(\PDO::FETCH_COLUMN));
        sort($named);
        $this->assertSame($named, $this->stored()->digests());
        $this->assertSame(4 * 15, $this->stored()->count());
    }

    // The attack on the removal of unused icons: an upload has put its bytes, which no committed
    // row names yet (they were left unused by a replacement), and has not committed its row when
    // a sweep runs. What must hold: the sweep leaves those bytes (PostgreSQL skips the upload's
    // locked row; SQLite's sweep cannot get the write lock and gives up), and once the upload
    // commits its row names bytes that are there.
    public function testSweepLeavesTheIconOfAnUnfinishedUpload(): void
    {
        $icon = IconFactory::programIcon(5);
        $digest = hash('sha256', $icon);
        $this->storage()->prepare();
        $upload = new Database($this->database());
        $upload->putBlob($digest, $icon);
        $upload->pdo->exec($upload->isSqlite ? 'BEGIN IMMEDIATE' : 'BEGIN');
        $upload->putBlob($digest, $icon);
        $upload->pdo->exec("INSERT INTO talvenook_icons (name, version, icon_sha256, icon_size, uploaded_at) VALUES ('Late', '1', '$digest', "
            . strlen($icon) . ', 1)');

        $sweeper = $this->database();
        $sweeper->setAttribute(\PDO::ATTR_TIMEOUT, 0);
        $this->assertSame(0, (new Storage(new Database($sweeper)))->removeOrphans());
        $upload->pdo->exec('COMMIT');

        $storage = $this->storage();
        $this->assertSame($icon, $this->stored()->iconBytes($storage->newest(1)[0]['id']));
        $this->assertSame(0, $storage->removeOrphans());
        $this->assertSame([$digest], $this->stored()->digests());
    }

    // A kept connection that the server dropped (a database restart ends every backend) costs
    // no request: the first statement that finds it gone opens a new connection and runs again,
    // for a read as for an upload; a live kept connection is used as it is.
    public function testDroppedPersistentConnectionIsReplaced(): void
    {
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $this->markTestSkipped('persistent connections are kept for PostgreSQL only (make test-pg)');
        }
        $this->storage()->prepare();
        $backend = static fn (Database $db): int => (int) $db->pdo->query('SELECT pg_backend_pid()')->fetchColumn();
        $first = Database::connect($this->dsn, $this->user, $this->password, true);
        $kept = $backend($first);
        (new Storage($first))->store('Before', '1', IconFactory::programIcon(1));
        $this->assertSame($kept, $backend(Database::connect($this->dsn, $this->user, $this->password, true)), 'the connection is kept');

        foreach (['exists' => fn (Storage $s) => $this->assertTrue($s->exists('Before', '1')),
            'store' => fn (Storage $s) => $s->store('After', '1', IconFactory::programIcon(2))] as $what => $request) {
            $this->database()->query('SELECT pg_terminate_backend(' . $backend(Database::connect($this->dsn, $this->user, $this->password, true)) . ')');
            $request(new Storage(Database::connect($this->dsn, $this->user, $this->password, true)));
            $this->addToAssertionCount(1);
        }
        $this->assertSame(IconFactory::programIcon(2), $this->stored()->iconBytes($this->storage()->newest(1)[0]['id']));
    }

    // The attack: every request used to create the table and switch the journal mode. What must
    // hold: over many connections to one database, as many requests make, the schema statements
    // run once, on the first request that finds no table; after the set-up at start, never.
    public function testSchemaWorkIsDoneOnce(): void
    {
        $statements = [];
        for ($request = 0; $request < 6; ++$request) {
            $connection = $this->recordingConnection();
            $storage = new Storage(new Database($connection));
            $storage->exists('App', '1');
            $storage->store("App $request", '1', IconFactory::programIcon($request));
            $storage->newest(10);
            $statements = array_merge($statements, $connection->statements);
        }
        $isSqlite = str_starts_with($this->dsn, 'sqlite:');
        // Two tables (rows, icons' bytes) and two indexes, each made once.
        $this->assertSame(['CREATE TABLE' => 2, 'CREATE INDEX' => 2, 'journal_mode' => $isSqlite ? 1 : 0],
            self::schemaStatements($statements));

        $this->database()->exec('DROP TABLE talvenook_icons');
        $this->database()->exec('DROP TABLE talvenook_icon_blobs');
        $this->storage()->prepare();
        $connection = $this->recordingConnection();
        $storage = new Storage(new Database($connection));
        $storage->store('After set-up', '1', IconFactory::programIcon(9));
        $storage->newest(10);
        $this->assertSame(['CREATE TABLE' => 0, 'CREATE INDEX' => 0, 'journal_mode' => 0],
            self::schemaStatements($connection->statements));
        if ($isSqlite) {
            $this->assertSame('wal', $this->database()->query('PRAGMA journal_mode')->fetchColumn());
        }
    }

    // A PostgreSQL database of the version that sent every statement from PHP has the tables but
    // not the functions that the existence query and the upload call now. What must hold: the
    // first request that misses one creates them and is answered, and what was stored stays.
    public function testDatabaseWithoutTheServiceFunctionsGetsThem(): void
    {
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $this->markTestSkipped('the service keeps functions in PostgreSQL only (make test-pg)');
        }
        $this->storage()->store('Old', '1', IconFactory::programIcon(1));
        $dropFunctions = function (): void {
            $this->database()->exec('DROP FUNCTION talvenook_icon_exists');
            $this->database()->exec('DROP FUNCTION talvenook_store_icon');
        };
        $dropFunctions();
        $this->assertTrue($this->storage()->exists('Old', '1'));
        $this->assertFalse($this->storage()->exists('New', '1'));
        $dropFunctions();
        $this->storage()->store('New', '1', IconFactory::programIcon(2));
        $rows = $this->storage()->newest(10);
        $this->assertSame(['New', 'Old'], array_column($rows, 'name'));
        $this->assertSame(IconFactory::programIcon(2), $this->stored()->iconBytes($rows[0]['id']));
        $this->assertSame(IconFactory::programIcon(1), $this->stored()->iconBytes($rows[1]['id']));
    }

    // The load a Monday morning brings is mostly existence queries and uploads, and each
    // statement is a round trip to PostgreSQL while the desktop waits. What must hold: an
    // existence query and a first upload are one statement each; replacing an icon adds only
    // the removal of the replaced one.
    public function testExistenceQueryAndUploadAreOneStatementEach(): void
    {
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $this->markTestSkipped('SQLite runs in the PHP process, without round trips (make test-pg)');
        }
        $this->storage()->prepare();
        $statementsOf = function (callable $request): array {
            $connection = $this->recordingConnection();
            $request(new Storage(new Database($connection)));
            return $connection->statements;
        };
        $this->assertCount(1, $statementsOf(fn (Storage $s) => $this->assertFalse($s->exists('App', '1'))));
        $this->assertCount(1, $statementsOf(fn (Storage $s) => $s->store('App', '1', IconFactory::programIcon(1))));
        $this->assertCount(1, $statementsOf(fn (Storage $s) => $this->assertTrue($s->exists('App', '1'))));
        $this->assertCount(1, $statementsOf(fn (Storage $s) => $s->store('App', '1', IconFactory::programIcon(1))));
        $this->assertCount(2, $statementsOf(fn (Storage $s) => $s->store('App', '1', IconFactory::programIcon(2))));
        $this->assertSame(self::digestsOf([IconFactory::programIcon(2)]), $this->stored()->digests());
    }

    // Several processes storing at once, partly the same names: every store succeeds, nothing
    // is lost and no name and version is stored twice.
    public function testConcurrentProcessesLoseNothing(): void
    {
        $this->storage();
        $workers = [];
        for ($w = 0; $w < 4; ++$w) {
            $workers[] = proc_open([PHP_BINARY, __DIR__ . '/support/store_worker.php', $this->dsn, $this->user ?? '',
                $this->password ?? '', (string) $w, '20', '10'], [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes[$w]);
        }
        foreach ($workers as $w => $process) {
            $stored = trim(stream_get_contents($pipes[$w][1]));
            $errors = stream_get_contents($pipes[$w][2]);
            proc_close($process);
            $this->assertSame('30', $stored, "worker $w: $errors");
        }
        $storage = $this->storage();
        $this->assertSame(4 * 20 + 10, $this->stored()->count());
        $this->assertSame(count(array_unique(array_map(fn (array $row): ?string => $this->stored()->iconBytes($row['id']),
            $storage->newest(1000)))), count($this->stored()->digests()), 'no icon that no row names');
        $rows = $storage->newest(1000);
        $this->assertCount(90, array_unique(array_column($rows, 'name')));
        foreach ($rows as $row) {
            if (preg_match('/^worker (\d) item (\d+)$/', $row['name'], $m) === 1) {
                $this->assertSame(IconFactory::programIcon((int) $m[1] * 1000 + (int) $m[2]), $this->stored()->iconBytes($row['id']));
            }
        }
    }

    private function assertStoreFails(callable $store): void
    {
        try {
            $store();
        } catch (\Throwable) {
            $this->addToAssertionCount(1);
            return;
        }
        $this->fail('the store succeeded');
    }

    /** $clock: the storage's clock (milliseconds); default the system's. */
    private function storage(?\Closure $clock = null): Storage
    {
        return new Storage(new Database($this->database()), $clock);
    }

    private function stored(): StoredIcons
    {
        return new StoredIcons($this->database());
    }

    private function database(): \PDO
    {
        return new \PDO($this->dsn, $this->user, $this->password, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION,
            \PDO::ATTR_TIMEOUT => 30]);
    }

    private function recordingConnection(): RecordingPdo
    {
        return new RecordingPdo($this->dsn, $this->user, $this->password, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION,
            \PDO::ATTR_TIMEOUT => 30]);
    }

    /** Makes the database refuse every row named $name, inserted or updated. */
    private function refuseName(string $name): void
    {
        $db = $this->database();
        if (!str_starts_with($this->dsn, 'sqlite:')) {
            $db->exec("ALTER TABLE talvenook_icons ADD CONSTRAINT refuse_name CHECK (name <> '$name')");
            return;
        }
        foreach (['INSERT', 'UPDATE'] as $change) {
            $db->exec("CREATE TRIGGER refuse_name_$change BEFORE $change ON talvenook_icons WHEN NEW.name = '$name'"
                . " BEGIN SELECT RAISE(ABORT, 'refused'); END");
        }
    }

    /** The sorted digests of the icons $icons, each once. */
    private static function digestsOf(array $icons): array
    {
        $digests = array_unique(array_map(static fn (string $icon): string => hash('sha256', $icon), $icons));
        sort($digests);
        return array_values($digests);
    }

    /** Every file of $folder with its bytes. */
    private static function folderContents(string $folder): array
    {
        $contents = [];
        foreach (array_diff(scandir($folder), ['.', '..']) as $entry) {
            $contents[$entry] = file_get_contents("$folder/$entry");
        }
        return $contents;
    }

    /** How often each kind of schema statement occurs in $statements. */
    private static function schemaStatements(array $statements): array
    {
        $counts = [];
        foreach (['CREATE TABLE', 'CREATE INDEX', 'journal_mode'] as $kind) {
            $counts[$kind] = count(array_filter($statements, static fn (string $sql): bool => str_contains($sql, $kind)));
        }
        return $counts;
    }
}
