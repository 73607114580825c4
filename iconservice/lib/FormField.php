<?php
// Validation of the text fields that clients send (software name and version).
declare(strict_types=1);

namespace IconService;

final class FormField
{
    public const NAME_MAX_CHARS = 255;
    public const VERSION_MAX_CHARS = 64;

    /**
     * Returns field $key of $fields as stored text, or throws BadRequest.
     * The value must be present, a single non-empty string of valid UTF-8 without NUL
     * characters, and at most $maxChars characters long. The text is kept exactly as received:
     * no trimming and no case folding, so "Notepad++" and "AT&T" are stored as sent.
     */
    public static function text(array $fields, string $key, int $maxChars): string
    {
        $value = $fields[$key] ?? null;
        if ($value === null || $value === '') {
            throw new BadRequest("missing field: $key");
        }
        if (!is_string($value)) {
            throw new BadRequest("field $key must be a single value");
        }
        // preg_match_all with the u modifier fails on invalid UTF-8 and counts code points otherwise.
        $chars = preg_match_all('/./us', $value);
        if ($chars === false) {
            throw new BadRequest("field $key is not valid UTF-8");
        }
        if ($chars > $maxChars) {
            throw new BadRequest("field $key is longer than $maxChars characters");
        }
        if (str_contains($value, "\0")) {
            throw new BadRequest("field $key contains a NUL character");
        }
        return $value;
    }
}
