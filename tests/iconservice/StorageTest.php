<?php
// Storage of icons, run against SQLite, or against PostgreSQL when TALVENOOK_TEST_PG_DSN names
// a server (make test-pg): the same SQL must hold on both.
declare(strict_types=1);

namespace IconService\Tests;

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
        $this->assertSame('Café 中文 & Co', $storage->newest(0, 10)[0]['name']);
    }

    // A second store of the same name and version keeps one row, with the newer icon and time,
    // and moves it to the front; other rows stay.
    public function testSecondStoreReplacesInPlace(): void
    {
        $storage = $this->storage();
        $storage->store('First', '1', IconFactory::programIcon(1));
        $storage->store('Second', '1', IconFactory::programIcon(2));
        usleep(5000);
        $storage->store('First', '1', IconFactory::programIcon(3));
        $rows = $storage->newest(0, 10);
        $this->assertSame(['First', 'Second'], array_column($rows, 'name'));
        $this->assertSame(2, $storage->count());
        $this->assertSame(IconFactory::programIcon(3), $storage->iconBytes($rows[0]['id']));
        $this->assertSame(IconFactory::programIcon(2), $storage->iconBytes($rows[1]['id']));
        $this->assertNull($storage->iconBytes(999999));
    }

    // Paging walks the rows newest first without gaps or repeats.
    public function testPagingNewestFirst(): void
    {
        $storage = $this->storage();
        for ($i = 0; $i < 7; ++$i) {
            $storage->store("App $i", '1', IconFactory::programIcon($i));
        }
        $names = [];
        for ($offset = 0; $offset < 9; $offset += 3) {
            $names = array_merge($names, array_column($storage->newest($offset, 3), 'name'));
        }
        $this->assertSame(['App 6', 'App 5', 'App 4', 'App 3', 'App 2', 'App 1', 'App 0'], $names);
    }

    // Nothing half-stored: when the database refuses the row, or the icon file cannot be
    // written, the store fails and the previous state stays exactly as it was.
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
        $rows = $storage->newest(0, 10);
        $this->assertSame(['Kept'], array_column($rows, 'name'));
        $this->assertSame(IconFactory::programIcon(1), $storage->iconBytes($rows[0]['id']));

        // The icon folder replaced by a plain file: no temporary file can be made beside it.
        TempFolder::remove("{$this->folder}/icons");
        touch("{$this->folder}/icons");
        $this->assertStoreFails(fn () => $storage->store('No folder', '1', IconFactory::programIcon(4)));
        $this->assertFalse($storage->exists('No folder', '1'));
        $this->assertSame(1, $storage->count());
        $this->assertSame([], glob(sys_get_temp_dir() . '/.upload-*') ?: []);
    }

    // A commit the database refuses (a deferred constraint, checked only at COMMIT) ends the
    // transaction on the server's side: the store must report the refusal itself, not a failed
    // rollback of a transaction that is no longer there, and the connection stays usable.
    public function testRefusedCommitReportsItsOwnError(): void
    {
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $this->markTestSkipped('covered for SQLite by the full-disk test of the service');
        }
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $this->database()->exec('ALTER TABLE talvenook_icons ADD CONSTRAINT one_per_size UNIQUE (icon_size)'
            . ' DEFERRABLE INITIALLY DEFERRED');
        try {
            $storage->store('Same size', '1', IconFactory::programIcon(2));
            $this->fail('the store succeeded');
        } catch (\PDOException $error) {
            $this->assertStringContainsString('one_per_size', $error->getMessage());
        }
        $this->assertFalse($storage->exists('Same size', '1'));
        $storage->store('Kept', '1', IconFactory::programIcon(3));
        $this->assertSame(IconFactory::programIcon(3), $storage->iconBytes($storage->newest(0, 1)[0]['id']));
    }

    // Several processes storing at once, partly the same names: every store succeeds, nothing
    // is lost and no name and version is stored twice.
    public function testConcurrentProcessesLoseNothing(): void
    {
        $this->storage();
        $workers = [];
        for ($w = 0; $w < 4; ++$w) {
            $workers[] = proc_open([PHP_BINARY, __DIR__ . '/support/store_worker.php', $this->dsn, $this->user ?? '',
                $this->password ?? '', "{$this->folder}/icons", (string) $w, '20', '10'], [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes[$w]);
        }
        foreach ($workers as $w => $process) {
            $stored = trim(stream_get_contents($pipes[$w][1]));
            $errors = stream_get_contents($pipes[$w][2]);
            proc_close($process);
            $this->assertSame('30', $stored, "worker $w: $errors");
        }
        $storage = $this->storage();
        $this->assertSame(4 * 20 + 10, $storage->count());
        $rows = $storage->newest(0, 1000);
        $this->assertCount(90, array_unique(array_column($rows, 'name')));
        foreach ($rows as $row) {
            if (preg_match('/^worker (\d) item (\d+)$/', $row['name'], $m) === 1) {
                $this->assertSame(IconFactory::programIcon((int) $m[1] * 1000 + (int) $m[2]), $storage->iconBytes($row['id']));
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

    private function storage(): Storage
    {
        return Storage::open($this->dsn, $this->user, $this->password, "{$this->folder}/icons");
    }

    private function database(): \PDO
    {
        return new \PDO($this->dsn, $this->user, $this->password, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION]);
    }
}
