<?php
// Many clients uploading at once through php -S with several workers: every upload answers
// success, nothing is lost, and names uploaded by several clients are stored once.
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
            $this->assertSame($clients * $unique + $shared, $storage->count());
            $rows = $storage->newest(0, 10000);
            $this->assertSame(count($rows), count(array_unique(array_column($rows, 'name'))));
            foreach ($rows as $row) {
                $this->assertSame(IconFactory::programIcon(crc32($row['name']) & 0xFF), $storage->iconBytes($row['id']), $row['name']);
            }
        } finally {
            $server->stop();
        }
    }
}
