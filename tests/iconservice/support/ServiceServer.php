<?php
// Runs the icon service under `php -S` for the duration of a test class, the way
// tools/service_control.sh starts it: set-up first (iconservice/setup.php), then the server on
// the service's document root public/, with a data folder of its own outside it. The server
// binds port 0 itself and the port it got is read from its start line, so parallel tests never
// race for a port. The server is always stopped, also when a test fails.
// With TALVENOOK_TEST_PG_DSN set (make test-pg) the service stores into a fresh PostgreSQL
// database of that server instead of SQLite.
declare(strict_types=1);

namespace IconService\Tests;

final class ServiceServer
{
    public const SERVICE_ROOT = __DIR__ . '/../../../iconservice';
    private const START_SECONDS = 15;

    public readonly int $port;
    public readonly string $dataFolder;
    private $process;
    private string $log;
    private string $dsn;
    private ?string $user = null;
    private ?string $pgDatabase = null;
    private bool $ownsDataFolder;
    /** The service's environment, for its commands (runCommand). */
    private array $env;

    /**
     * Starts the server. $workers > 1 lets it serve requests in parallel processes.
     * $router: optional router script (php -S falls back to the service files when it returns false).
     * $environment: extra environment variables for the service (they win over the ones set here).
     * $serviceRoot: the service's folder (its public/ is served); default the one of this tree.
     * $dataFolder: the service's data folder; default a new temporary folder, removed by stop().
     * $setUp: run iconservice/setup.php before the server, as the launchers do.
     * $wrapper: command words put before php -S (e.g. to run it in a mount namespace of its own).
     */
    public function __construct(int $workers = 1, ?string $router = null, array $environment = [],
        ?string $serviceRoot = null, ?string $dataFolder = null, bool $setUp = true, array $wrapper = [])
    {
        $this->ownsDataFolder = $dataFolder === null;
        $this->dataFolder = $dataFolder ?? TempFolder::create('iconservice-data-');
        $this->log = TempFolder::create('iconservice-log-') . '/server.log';
        $serviceRoot = realpath($serviceRoot ?? self::SERVICE_ROOT);
        $env = getenv() + [];
        $env['TALVENOOK_ICONSERVICE_DATA'] = $this->dataFolder;
        unset($env['PHP_CLI_SERVER_WORKERS']);
        if ($workers > 1) {
            $env['PHP_CLI_SERVER_WORKERS'] = (string) $workers;
        }
        $this->dsn = "sqlite:{$this->dataFolder}/icons.sqlite";
        if (getenv('TALVENOOK_TEST_PG_DSN')) {
            $this->createPostgresDatabase();
            $env['TALVENOOK_ICONSERVICE_DSN'] = $this->dsn;
            $env['TALVENOOK_ICONSERVICE_DB_USER'] = (string) $this->user;
        }
        $env = $environment + $env;
        $this->env = $env;
        if ($setUp) {
            self::runSetUp($serviceRoot, $env);
        }
        $command = array_merge($wrapper, [PHP_BINARY, '-S', '127.0.0.1:0', '-t', "$serviceRoot/public"]);
        if ($router !== null) {
            $command[] = $router;
        }
        $this->process = proc_open($command, [0 => ['file', '/dev/null', 'r'], 1 => ['file', $this->log, 'a'],
            2 => ['file', $this->log, 'a']], $pipes, null, $env);
        if (!is_resource($this->process)) {
            throw new \RuntimeException('cannot start php -S');
        }
        $this->waitUntilListening();
    }

    /** Runs iconservice/setup.php of $serviceRoot with $env; throws with its output when it refuses. */
    public static function runSetUp(string $serviceRoot, array $env): string
    {
        $process = proc_open(['timeout', '60', PHP_BINARY, "$serviceRoot/setup.php", "$serviceRoot/public"],
            [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes, null, $env);
        $output = stream_get_contents($pipes[1]) . stream_get_contents($pipes[2]);
        if (proc_close($process) !== 0) {
            throw new \RuntimeException("set-up refused: $output");
        }
        return $output;
    }

    /**
     * Runs the service's command $script (e.g. remove.php) with $arguments in the service's
     * environment; returns [exit status, standard output and error].
     */
    public function runCommand(string $script, array $arguments): array
    {
        $process = proc_open(array_merge(['timeout', '60', PHP_BINARY, self::SERVICE_ROOT . "/$script"], $arguments),
            [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes, null, $this->env);
        $output = stream_get_contents($pipes[1]) . stream_get_contents($pipes[2]);
        return [proc_close($process), $output];
    }

    /** The process id of the server (the parent of its workers). */
    public function pid(): int
    {
        return proc_get_status($this->process)['pid'];
    }

    public function http(): RawHttp
    {
        return new RawHttp('127.0.0.1', $this->port);
    }

    /** The service's storage, opened directly (for checks behind the service's back). */
    public function storage(): \IconService\Storage
    {
        return \IconService\Storage::open($this->dsn, $this->user, null);
    }

    /** What the service's database holds, read directly. */
    public function stored(): StoredIcons
    {
        return new StoredIcons(new \PDO($this->dsn, $this->user, null, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION]));
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
        if ($this->ownsDataFolder) {
            TempFolder::remove($this->dataFolder);
        }
        TempFolder::remove(dirname($this->log));
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

    /** Waits for the start line "Development Server (http://127.0.0.1:PORT) started" and takes PORT. */
    private function waitUntilListening(): void
    {
        $deadline = microtime(true) + self::START_SECONDS;
        while (microtime(true) < $deadline) {
            if (preg_match('#Development Server \(http://127\.0\.0\.1:(\d+)\) started#', $this->log(), $match) === 1) {
                $this->port = (int) $match[1];
                return;
            }
            if (!proc_get_status($this->process)['running']) {
                break;
            }
            usleep(20000);
        }
        $log = $this->log();
        $this->stop();
        throw new \RuntimeException("php -S did not start listening:\n$log");
    }

    private static function childrenOf(int $pid): array
    {
        $list = @file_get_contents("/proc/$pid/task/$pid/children");
        return $list === false ? [] : array_map('intval', preg_split('/\s+/', trim($list), -1, PREG_SPLIT_NO_EMPTY));
    }
}
