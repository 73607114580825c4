<?php
// The folder of stored ICO files, each named after the SHA-256 digest of its bytes. Files are
// written under a temporary name beside their place and renamed into it, so a file under its
// digest's name is always complete. Storage decides when a file may go. (Not final: the
// tests watch its writes and removals.)
declare(strict_types=1);

namespace IconService;

class IconFolder
{
    private const TEMPORARY_PREFIX = '.upload-';
    private const SUFFIX = '.ico';

    public function __construct(private string $path)
    {
    }

    /** Creates $folder (and its parents) when missing; throws when that fails. */
    public static function ensure(string $folder): void
    {
        if (!is_dir($folder) && !@mkdir($folder, 0775, true) && !is_dir($folder)) {
            throw new \RuntimeException("cannot create folder $folder");
        }
    }

    public function ensureExists(): void
    {
        self::ensure($this->path);
    }

    /** The bytes of $digest's file, or null when it cannot be read. */
    public function read(string $digest): ?string
    {
        $bytes = @file_get_contents($this->file($digest));
        return $bytes === false ? null : $bytes;
    }

    /**
     * Writes $bytes as the file of $digest, replacing one that is there (with the same bytes).
     * Throws with the system's reason when the file cannot be written; no temporary file stays.
     */
    public function write(string $digest, string $bytes): void
    {
        error_clear_last();
        $temporary = @tempnam($this->path, self::TEMPORARY_PREFIX);
        // tempnam falls back to the system's temporary folder when it cannot use the one given;
        // a rename from there would not be atomic, so only a file beside the target will do.
        if ($temporary === false || dirname($temporary) !== realpath($this->path)) {
            if ($temporary !== false) {
                unlink($temporary);
            }
            throw new \RuntimeException("cannot create a temporary file in {$this->path}" . self::reason());
        }
        try {
            if (@file_put_contents($temporary, $bytes) !== strlen($bytes)) {
                throw new \RuntimeException("cannot write $temporary" . self::reason());
            }
            chmod($temporary, 0644);
            if (!@rename($temporary, $this->file($digest))) {
                throw new \RuntimeException("cannot rename $temporary" . self::reason());
            }
        } finally {
            if (file_exists($temporary)) {
                unlink($temporary);
            }
        }
    }

    /** Removes $digest's file; a file that is not there is fine. Throws when it stays. */
    public function remove(string $digest): void
    {
        $file = $this->file($digest);
        error_clear_last();
        if (!@unlink($file) && file_exists($file)) {
            throw new \RuntimeException("cannot remove $file" . self::reason());
        }
    }

    /**
     * Removes every icon file whose digest is not a key of $keep, and every temporary file left
     * by a write that never finished. Only while no write can run (under the write lock): a
     * writer's file is not named by its row until the writer commits. Returns how many went.
     */
    public function removeAllBut(array $keep): int
    {
        $removed = 0;
        foreach (scandir($this->path) ?: [] as $entry) {
            $isTemporary = str_starts_with($entry, self::TEMPORARY_PREFIX);
            $digest = preg_match('/^([0-9a-f]{64})\.ico$/', $entry, $match) === 1 ? $match[1] : null;
            if ($isTemporary || ($digest !== null && !isset($keep[$digest]))) {
                $removed += @unlink("{$this->path}/$entry") ? 1 : 0;
            }
        }
        return $removed;
    }

    private function file(string $digest): string
    {
        return $this->path . '/' . $digest . self::SUFFIX;
    }

    /** ": " and the message of the PHP warning the failed call left, if any. */
    private static function reason(): string
    {
        $last = error_get_last();
        return $last === null ? '' : ': ' . $last['message'];
    }
}
