<?php
// An icon folder that notes every write, removal and sweep made while the database's write lock
// is not held, asking a second connection whether it could take the lock at that moment.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\IconFolder;

final class LockCheckingIconFolder extends IconFolder
{
    /** @var list<string> every change of the folder, in order */
    public array $changes = [];
    /** @var list<string> the changes made while no one held the write lock */
    public array $unlocked = [];

    /** $lockIsHeld: true when some connection holds the database's write lock. */
    public function __construct(string $path, private \Closure $lockIsHeld)
    {
        parent::__construct($path);
    }

    public function write(string $digest, string $bytes): void
    {
        $this->note("write $digest");
        parent::write($digest, $bytes);
    }

    public function remove(string $digest): void
    {
        $this->note("remove $digest");
        parent::remove($digest);
    }

    public function removeAllBut(array $keep): int
    {
        $this->note('sweep');
        return parent::removeAllBut($keep);
    }

    private function note(string $change): void
    {
        $this->changes[] = $change;
        if (!($this->lockIsHeld)()) {
            $this->unlocked[] = $change;
        }
    }
}
