<?php
// A PDO connection that notes every SQL text it is handed, so that tests can count statements.
declare(strict_types=1);

namespace IconService\Tests;

final class RecordingPdo extends \PDO
{
    /** @var list<string> every statement run or prepared, in order */
    public array $statements = [];

    public function exec(string $statement): int|false
    {
        $this->statements[] = $statement;
        return parent::exec($statement);
    }

    public function query(string $query, ?int $fetchMode = null, mixed ...$fetchModeArgs): \PDOStatement|false
    {
        $this->statements[] = $query;
        return $fetchMode === null ? parent::query($query) : parent::query($query, $fetchMode, ...$fetchModeArgs);
    }

    public function prepare(string $query, array $options = []): \PDOStatement|false
    {
        $this->statements[] = $query;
        return parent::prepare($query, $options);
    }
}
