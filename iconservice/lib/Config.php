<?php
// Where the service keeps its data, taken from the environment, and the check that none of it
// lies where the web server would hand it out.
//
//   TALVENOOK_ICONSERVICE_DATA      data folder (default: iconservice/data/, beside the document
//                                   root public/); holds the SQLite database, and the icons/ folder
//                                   of a service of the time when icons were files (taken over by
//                                   the set-up)
//   TALVENOOK_ICONSERVICE_DSN       PDO DSN of the database (default: SQLite in the data folder),
//                                   e.g. "pgsql:host=/run/postgresql;dbname=icons"
//   TALVENOOK_ICONSERVICE_DB_USER, TALVENOOK_ICONSERVICE_DB_PASSWORD   credentials for the DSN
//   TALVENOOK_ICONSERVICE_DB_PERSISTENT   "1": keep the database connection open between the
//                                   requests of a process (php-fpm; PostgreSQL only)
//   TALVENOOK_ICONSERVICE_WRITERS   the networks whose clients may ask and upload (addresses and
//                                   CIDR ranges, separated by spaces or commas; default loopback
//                                   and the private ranges, ClientNetworks::PRIVATE); others get 403
declare(strict_types=1);

namespace IconService;

/** The service is set up so that it must not run; the message says what to change. */
final class ConfigurationError extends \RuntimeException
{
}

final class Config
{
    /**
     * Opens the storage the environment names. Throws ConfigurationError, before anything is
     * created, when the data folder or the SQLite database lies inside one of $documentRoots:
     * everything there can be downloaded by anyone who asks for it.
     */
    public static function storage(array $documentRoots): Storage
    {
        self::refuseServedData($documentRoots);
        return Storage::open(self::dsn(), self::env('TALVENOOK_ICONSERVICE_DB_USER'),
            self::env('TALVENOOK_ICONSERVICE_DB_PASSWORD'), self::env('TALVENOOK_ICONSERVICE_DB_PERSISTENT') === '1');
    }

    /** Throws ConfigurationError when the data folder or database lies inside one of $documentRoots. */
    public static function refuseServedData(array $documentRoots): void
    {
        $places = ['data folder' => self::dataFolder()];
        $dsn = self::dsn();
        if (str_starts_with($dsn, 'sqlite:')) {
            $places['SQLite database'] = substr($dsn, strlen('sqlite:'));
        }
        foreach ($documentRoots as $root) {
            $servedRoot = self::resolved($root);
            foreach ($places as $what => $path) {
                $resolved = self::resolved($path);
                if ($resolved === $servedRoot || str_starts_with($resolved, rtrim($servedRoot, '/') . '/')) {
                    throw new ConfigurationError("the $what $path lies inside the document root $root, where anyone"
                        . ' could download it; set TALVENOOK_ICONSERVICE_DATA to a folder outside it');
                }
            }
        }
    }

    /** The networks whose clients may send existence queries and uploads; throws ConfigurationError when malformed. */
    public static function writers(): ClientNetworks
    {
        return ClientNetworks::parse(self::env('TALVENOOK_ICONSERVICE_WRITERS') ?? ClientNetworks::PRIVATE);
    }

    /** The folder meant to be served: public/, holding the front controller alone. */
    public static function defaultDocumentRoot(): string
    {
        return dirname(__DIR__) . '/public';
    }

    /** The folder of icon files that the set-up takes over (icons were files once). */
    public static function legacyIconFolder(): string
    {
        return self::dataFolder() . '/icons';
    }

    public static function dataFolder(): string
    {
        return self::env('TALVENOOK_ICONSERVICE_DATA') ?? dirname(__DIR__) . '/data';
    }

    private static function dsn(): string
    {
        return self::env('TALVENOOK_ICONSERVICE_DSN') ?? 'sqlite:' . self::dataFolder() . '/icons.sqlite';
    }

    /**
     * $path made absolute with every symbolic link and ".." resolved, also when its last parts
     * do not exist yet: the nearest existing folder is resolved and the rest appended.
     */
    private static function resolved(string $path): string
    {
        if (!str_starts_with($path, '/')) {
            $path = getcwd() . '/' . $path;
        }
        $missing = [];
        while (($real = realpath($path)) === false) {
            $missing[] = basename($path);
            $parent = dirname($path);
            if ($parent === $path) {
                return $path;
            }
            $path = $parent;
        }
        foreach (array_reverse($missing) as $part) {
            $real = $part === '..' ? dirname($real) : ($part === '.' ? $real : rtrim($real, '/') . '/' . $part);
        }
        return $real;
    }

    private static function env(string $name): ?string
    {
        $value = getenv($name);
        return ($value === false || $value === '') ? null : $value;
    }
}
