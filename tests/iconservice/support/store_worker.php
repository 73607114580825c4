<?php
// Child process of the storage concurrency test: stores icons through its own connection.
// Arguments: DSN, user ('' for none), password, worker number, unique count, shared count.
// Prints one line: the number of stores that succeeded.
declare(strict_types=1);

require_once __DIR__ . '/../bootstrap.php';

[, $dsn, $user, $password, $worker, $unique, $shared] = $argv;
$storage = IconService\Storage::open($dsn, $user === '' ? null : $user, $password === '' ? null : $password);
$stored = 0;
for ($i = 0; $i < (int) $unique + (int) $shared; ++$i) {
    $name = $i < (int) $unique ? "worker $worker item $i" : 'shared item ' . ($i - (int) $unique);
    try {
        $storage->store($name, '1.0.0.0', IconService\Tests\IconFactory::programIcon((int) $worker * 1000 + $i));
        ++$stored;
    } catch (Throwable $error) {
        fwrite(STDERR, $error->getMessage() . "\n");
    }
}
echo $stored, "\n";
