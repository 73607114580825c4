<?php
// Where the service keeps its data, taken from the environment.
//
//   TALVENOOK_ICONSERVICE_DATA      data folder (default: data/ beside index.php); holds the
//                                   SQLite database and the icons/ folder of stored ICO files
//   TALVENOOK_ICONSERVICE_DSN       PDO DSN of the database (default: SQLite in the data folder),
//                                   e.g. "pgsql:host=127.0.0.1;port=5432;dbname=icons"
//   TALVENOOK_ICONSERVICE_DB_USER, TALVENOOK_ICONSERVICE_DB_PASSWORD   credentials for the DSN
declare(strict_types=1);

namespace IconService;

final class Config
{
    /** Opens the storage the environment names, creating the data folder when missing. */
    public static function storage(): Storage
    {
        $data = self::env('TALVENOOK_ICONSERVICE_DATA') ?? dirname(__DIR__) . '/data';
        $dsn = self::env('TALVENOOK_ICONSERVICE_DSN') ?? 'sqlite:' . $data . '/icons.sqlite';
        return new Storage($dsn, self::env('TALVENOOK_ICONSERVICE_DB_USER'),
            self::env('TALVENOOK_ICONSERVICE_DB_PASSWORD'), $data . '/icons');
    }

    private static function env(string $name): ?string
    {
        $value = getenv($name);
        return ($value === false || $value === '') ? null : $value;
    }
}
