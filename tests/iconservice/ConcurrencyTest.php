<?php
// Many clients uploading at once through php -S with several workers: every upload answers
// success, nothing is lost, names uploaded by several clients are stored once, and no icon is
// left that no row names.
declare(strict_types=1);

namespace IconService\Tests;

use PHPUnit\Framework\TestCase;

final class ConcurrencyTest extends TestCase
{
    public function testParallelUploadsLoseNothing(): void
    {
        $clients = 6;
        $unique = 25;
        $shared = 10;
        $server = new ServiceServer(workers: 4);
        try {
            $processes = [];
            for ($c = 0; $c < $clients; ++$c) {
                $processes[$c] = proc_open([PHP_BINARY, __DIR__ . '/support/upload_client.php', (string) $server->port,
                    (string) $c, (string) $unique, (string) $shared], [1 => ['pipe', 'w']], $pipes[$c]);
            }
            foreach ($processes as $c => $process) {
                $result = json_decode(stream_get_contents($pipes[$c][1]), true);
                proc_close($process);
                $this->assertSame($unique + $shared, $result['ok'] ?? null, "client $c: " . json_encode($result) . "\n" . $server->log());
            }

            $storage = $server->storage();
            $this->assertSame($clients * $unique + $shared, $server->stored()->count());
            $rows = $storage->newest(10000);
            $this->assertSame(count($rows), count(array_unique(array_column($rows, 'name'))));
            foreach ($rows as $row) {
                $this->assertSame(IconFactory::programIcon(crc32($row['name']) & 0xFF), $server->stored()->iconBytes($row['id']), $row['name']);
            }
            $this->assertSame(self::namedDigests($rows), $server->stored()->digests());
        } finally {
            $server->stop();
        }
    }

    // The attack: 40 uploads of one name and version, each with other pixels, all at once, to a
    // new service whose table does not exist yet. What must hold: each answers success, and one
    // row and one icon remain, one of the 40.
    public function testFortyUploadsOfOneNameLeaveOneRowAndOneIcon(): void
    {
        $server = new ServiceServer(workers: 4, setUp: false);
        try {
            $http = $server->http();
            $icons = array_map(static fn (int $seed): string => IconFactory::programIcon($seed), range(1, 40));
            $requests = array_map(static fn (string $icon): string => $http->uploadRequest('/index.php?r=sw/upload',
                ['name' => 'Contended', 'version' => '1.0.0.0'], $icon), $icons);
            foreach ($http->exchangeAll($requests) as $i => $reply) {
                $this->assertSame([200, '{"success":true}'], [$reply['status'], $reply['body']], "upload $i\n" . $server->log());
            }
            $storage = $server->storage();
            $rows = $storage->newest(100);
            $this->assertCount(1, $rows);
            $stored = $server->stored()->iconBytes($rows[0]['id']);
            $this->assertContains($stored, $icons);
            $this->assertSame([hash('sha256', $stored)], $server->stored()->digests());
        } finally {
            $server->stop();
        }
    }

    /** The digests that $rows name, sorted, each once. */
    private static function namedDigests(array $rows): array
    {
        $digests = array_unique(array_column($rows, 'sha256'));
        sort($digests);
        return array_values($digests);
    }
}
