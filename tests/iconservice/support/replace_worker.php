<?php
// Child process of the storage test of concurrent replacements. Arguments: DSN, user ('' for
// none), password, worker number, count. For each of its names the worker stores
// one icon that every worker stores too, reads it back at once, then replaces it by an icon of
// its own. Prints "ok", or the first store whose icon could not be read back.
declare(strict_types=1);

require_once __DIR__ . '/../bootstrap.php';

use IconService\Tests\IconFactory;

[, $dsn, $user, $password, $worker, $count] = $argv;
$storage = IconService\Storage::open($dsn, $user === '' ? null : $user, $password === '' ? null : $password);
$shared = IconFactory::programIcon(200);
$db = new PDO($dsn, $user === '' ? null : $user, $password === '' ? null : $password, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
$idOf = $db->prepare('SELECT id FROM talvenook_icons WHERE name = ? AND version = ?');
for ($i = 0; $i < (int) $count; ++$i) {
    $name = "worker $worker item $i";
    $storage->store($name, '1', $shared);
    $idOf->execute([$name, '1']);
    $id = (int) $idOf->fetchColumn();
    $idOf->closeCursor();
    if (($storage->iconOfRow($id)['bytes'] ?? null) !== $shared) {
        echo "$name: the shared icon is gone right after its store\n";
        exit(1);
    }
    $storage->store($name, '1', IconFactory::programIcon((int) $worker * 100 + $i % 100));
}
echo "ok\n";
