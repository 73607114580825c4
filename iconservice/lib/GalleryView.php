<?php
// The gallery page: received icons at 48x48 with name, version and time of upload, newest first.
declare(strict_types=1);

namespace IconService;

final class GalleryView
{
    public const PAGE_SIZE = 60;

    /**
     * Renders the page of $rows as returned by Storage::newest: the newest icons, or, with
     * $before (the [uploaded_at, id] key of the page's link), those uploaded before that row.
     * $hasOlder: whether older icons follow (the page then links to them by its last row's key).
     * Every stored text goes through escape(); nothing stored reaches the page raw.
     */
    public static function render(array $rows, ?array $before, bool $hasOlder): string
    {
        $items = '';
        foreach ($rows as $row) {
            $items .= self::item($row);
        }
        if ($items === '') {
            $items = '<p class="empty">' . ($before === null ? 'No icons received yet.' : 'No older icons.') . '</p>';
        }
        $summary = $before === null ? 'Newest first.' : 'Newest first, uploaded before ' . self::time($before[0]) . '.';
        $older = $hasOlder ? end($rows) : null;
        return '<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Talvenook icon gallery</title>
<style>
body{font:14px/1.3 sans-serif;margin:1.5em;background:#f6f6f4;color:#222}
h1{font-size:1.4em;margin:0 0 .2em}
.summary{color:#555;margin:0 0 1em}
.icons{display:grid;grid-template-columns:repeat(auto-fill,minmax(150px,1fr));gap:10px;list-style:none;padding:0;margin:0}
.icons li{background:#fff;border:1px solid #ddd;border-radius:6px;padding:10px;text-align:center;overflow-wrap:anywhere}
.icons img{width:48px;height:48px;display:block;margin:0 auto 6px}
.name{font-weight:bold}
.version,.time{color:#666;font-size:12px}
nav{margin:1em 0}nav a,nav span{margin-right:1em}
</style></head>
<body>
<h1>Talvenook icon gallery</h1>
<p class="summary">' . $summary . '</p>
<ul class="icons">
' . $items . '</ul>
' . self::pager($before !== null, $older) . '
</body></html>
';
    }

    private static function item(array $row): string
    {
        $name = self::escape($row['name']);
        $time = self::time($row['uploaded_at']);
        return '<li><img src="index.php?r=sw/icon&amp;sha256=' . $row['sha256'] . '" width="48" height="48" alt="' . $name . '">'
            . '<div class="name">' . $name . '</div>'
            . '<div class="version">' . self::escape($row['version']) . '</div>'
            . '<div class="time">' . $time . "</div></li>\n";
    }

    /** The links to the newest page (from an older one) and to the page after $last, when given. */
    private static function pager(bool $older, ?array $last): string
    {
        $links = [];
        if ($older) {
            $links[] = '<a href="index.php?r=sw/gallery">&larr; Newest</a>';
        }
        if ($last !== null) {
            $links[] = '<a rel="next" href="index.php?r=sw/gallery&amp;before=' . $last['uploaded_at'] . '-' . $last['id']
                . '">Older &rarr;</a>';
        }
        return $links === [] ? '' : '<nav>' . implode('', $links) . '</nav>';
    }

    /** A time of upload (milliseconds since 1970 UTC) as the page shows it. */
    private static function time(int $milliseconds): string
    {
        return gmdate('Y-m-d H:i:s', intdiv($milliseconds, 1000)) . ' UTC';
    }

    /** HTML-escapes text for element content and quoted attributes; invalid UTF-8 is replaced. */
    public static function escape(string $text): string
    {
        return htmlspecialchars($text, ENT_QUOTES | ENT_SUBSTITUTE | ENT_HTML5, 'UTF-8');
    }
}
