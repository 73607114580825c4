<?php
// Runs the icon service under `php -S` on a free loopback port with a data folder of its own,
// for the duration of a test class. The server is always stopped, also when a test fails.
// With TALVENOOK_TEST_PG_DSN set (make test-pg) the service stores into a fresh PostgreSQL
// database of that server instead of SQLite.
declare(strict_types=1);

namespace IconService\Tests;

final class ServiceServer
{
    public const SERVICE_ROOT = __DIR__ . '/../../../iconservice';

    public readonly int $port;
    public readonly string $dataFolder;
    private $process;
    private string $log;
    private string $dsn;
    private ?string $user = null;
    private ?string $pgDatabase = null;

    /**
     * Starts the server. $workers > 1 lets it serve requests in parallel processes.
     * $router: optional router script (php -S falls back to the service files when it returns false).
     * $environment: extra environment variables for the service.
     */
    public function __construct(int $workers = 1, ?string $router = null, array $environment = [])
    {
        $this->dataFolder = TempFolder::create('iconservice-data-');
        $this->log = $this->dataFolder . '.log';
        $this->port = self::freePort();
        $command = [PHP_BINARY, '-S', "127.0.0.1:{$this->port}", '-t', realpath(self::SERVICE_ROOT)];
        if ($router !== null) {
            $command[] = $router;
        }
        $env = getenv() + [];
        $env['TALVENOOK_ICONSERVICE_DATA'] = $this->dataFolder;
        $env['PHP_CLI_SERVER_WORKERS'] = (string) $workers;
        $this->dsn = "sqlite:{$this->dataFolder}/icons.sqlite";
        if (getenv('TALVENOOK_TEST_PG_DSN')) {
            $this->createPostgresDatabase();
            $env['TALVENOOK_ICONSERVICE_DSN'] = $this->dsn;
            $env['TALVENOOK_ICONSERVICE_DB_USER'] = (string) $this->user;
        }
        $env = $environment + $env;
        $this->process = proc_open($command, [0 => ['file', '/dev/null', 'r'], 1 => ['file', $this->log, 'a'],
            2 => ['file', $this->log, 'a']], $pipes, null, $env);
        if (!is_resource($this->process)) {
            throw new \RuntimeException('cannot start php -S');
        }
        $this->waitUntilListening();
    }

    public function http(): RawHttp
    {
        return new RawHttp('127.0.0.1', $this->port);
    }

    /** The service's storage, opened directly (for checks behind the service's back). */
    public function storage(): \IconService\Storage
    {
        return new \IconService\Storage($this->dsn, $this->user, null, $this->dataFolder . '/icons');
    }

    public function baseUrl(): string
    {
        return "http://127.0.0.1:{$this->port}/";
    }

    /** The server's own log (requests and PHP errors), for failure messages. */
    public function log(): string
    {
        return (string) @file_get_contents($this->log);
    }

    /** Stops the server and its workers, then removes the data folder. */
    public function stop(): void
    {
        if (!is_resource($this->process)) {
            return;
        }
        $pid = proc_get_status($this->process)['pid'];
        // Workers are children of the server process; signal them as well as the parent.
        foreach (self::childrenOf($pid) as $child) {
            posix_kill($child, SIGTERM);
        }
        proc_terminate($this->process, SIGTERM);
        $deadline = microtime(true) + 10;
        while (proc_get_status($this->process)['running'] && microtime(true) < $deadline) {
            usleep(20000);
        }
        if (proc_get_status($this->process)['running']) {
            proc_terminate($this->process, SIGKILL);
        }
        proc_close($this->process);
        if ($this->pgDatabase !== null) {
            $this->postgresAdmin()->exec("DROP DATABASE IF EXISTS {$this->pgDatabase} WITH (FORCE)");
        }
        TempFolder::remove($this->dataFolder);
        @unlink($this->log);
    }

    public function __destruct()
    {
        $this->stop();
    }

    private function createPostgresDatabase(): void
    {
        $this->user = getenv('TALVENOOK_TEST_PG_USER') ?: null;
        $this->pgDatabase = 'iconservice_' . bin2hex(random_bytes(6));
        $this->postgresAdmin()->exec("CREATE DATABASE {$this->pgDatabase} ENCODING 'UTF8' TEMPLATE template0");
        $this->dsn = preg_replace('/dbname=[^;]*/', "dbname={$this->pgDatabase}", getenv('TALVENOOK_TEST_PG_DSN'));
    }

    private function postgresAdmin(): \PDO
    {
        return new \PDO(getenv('TALVENOOK_TEST_PG_DSN'), $this->user, null, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION]);
    }

    private function waitUntilListening(): void
    {
        $deadline = microtime(true) + 15;
        while (microtime(true) < $deadline) {
            $socket = @stream_socket_client("tcp://127.0.0.1:{$this->port}", $errno, $error, 1);
            if ($socket !== false) {
                fclose($socket);
                return;
            }
            if (!proc_get_status($this->process)['running']) {
                break;
            }
            usleep(50000);
        }
        $log = $this->log();
        $this->stop();
        throw new \RuntimeException("php -S did not start listening:\n$log");
    }

    /** A port that was free a moment ago: the kernel's pick for a socket bound to port 0. */
    private static function freePort(): int
    {
        $socket = stream_socket_server('tcp://127.0.0.1:0', $errno, $error);
        $name = stream_socket_get_name($socket, false);
        fclose($socket);
        return (int) substr($name, strrpos($name, ':') + 1);
    }

    private static function childrenOf(int $pid): array
    {
        $list = @file_get_contents("/proc/$pid/task/$pid/children");
        return $list === false ? [] : array_map('intval', preg_split('/\s+/', trim($list), -1, PREG_SPLIT_NO_EMPTY));
    }
}
