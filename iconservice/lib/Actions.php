<?php
// The actions of the service, each reading its request and sending its reply.
declare(strict_types=1);

namespace IconService;

final class Actions
{
    /**
     * $storage opens the service's storage; called only by the actions that need it.
     * $writers gives the networks whose clients may ask and upload (called by those two alone).
     */
    public function __construct(private \Closure $storage, private \Closure $writers)
    {
    }

    /** r=sw/exist: POST name, version -> {"success":true,"exist":bool}. */
    public function exist(): void
    {
        self::requireMethod('POST');
        $this->requireWriter();
        $name = FormField::text($_POST, 'name', FormField::NAME_MAX_CHARS);
        $version = FormField::text($_POST, 'version', FormField::VERSION_MAX_CHARS);
        $exists = ($this->storage)()->exists($name, $version);
        Reply::json(200, ['success' => true, 'exist' => $exists]);
    }

    /** r=sw/upload: multipart name, version and file part icon -> {"success":true}. */
    public function upload(): void
    {
        self::requireMethod('POST');
        $this->requireWriter();
        self::refuseDroppedBody();
        $name = FormField::text($_POST, 'name', FormField::NAME_MAX_CHARS);
        $version = FormField::text($_POST, 'version', FormField::VERSION_MAX_CHARS);
        $icon = self::uploadedIcon();
        $problem = IcoFile::problem($icon);
        if ($problem !== null) {
            throw new BadRequest($problem);
        }
        ($this->storage)()->store($name, $version, $icon);
        Reply::json(200, ['success' => true]);
    }

    /**
     * r=sw/gallery[&before=KEY]: the HTML gallery, newest first; with KEY ("UPLOADED_AT-ID" of
     * a row, as the page's "Older" link gives it) the icons uploaded before that row.
     */
    public function gallery(): void
    {
        self::requireMethod('GET');
        $before = self::galleryKey($_GET['before'] ?? null);
        // One row more than a page shows: whether there is an older page, without counting.
        $rows = ($this->storage)()->newest(GalleryView::PAGE_SIZE + 1, $before);
        header('Content-Type: text/html; charset=utf-8');
        header("Content-Security-Policy: default-src 'none'; img-src 'self'; style-src 'unsafe-inline'");
        header('X-Content-Type-Options: nosniff');
        echo GalleryView::render(array_slice($rows, 0, GalleryView::PAGE_SIZE), $before, count($rows) > GalleryView::PAGE_SIZE);
    }

    /**
     * r=sw/health: {"success":true} when the database answers, 503 when it does not, for
     * monitors and load balancers. A kept connection that the server dropped is replaced, so
     * the answer follows the database without PHP being restarted.
     */
    public function health(): void
    {
        self::requireMethod('GET');
        try {
            ($this->storage)()->ping();
        } catch (\Throwable $error) {
            error_log('icon service: health check: ' . $error::class . ': ' . $error->getMessage());
            Reply::failure(503, 'database unavailable');
            return;
        }
        Reply::json(200, ['success' => true]);
    }

    /**
     * r=sw/icon&sha256=DIGEST (the gallery's address): the ICO file with that digest. The bytes
     * behind a digest never change, so they are served with a strong ETag (the digest) and a
     * lifetime of a year marked immutable; a browser that asks again with If-None-Match gets
     * 304 without the database being asked.
     * r=sw/icon&id=N: row N's current icon; the row keeps its id when a second upload replaces
     * the icon, so browsers must revalidate (no-cache), and get 304 while it is unchanged.
     */
    public function icon(): void
    {
        self::requireMethod('GET');
        $digest = $_GET['sha256'] ?? null;
        if ($digest !== null) {
            $this->iconByDigest($digest);
            return;
        }
        $id = self::positiveInteger($_GET['id'] ?? '');
        if ($id === null) {
            throw new BadRequest('missing or invalid id');
        }
        $icon = ($this->storage)()->iconOfRow($id);
        if ($icon === null) {
            throw new BadRequest('no such icon', 404);
        }
        self::sendIcon($icon['sha256'], $icon['bytes'], 'no-cache');
    }

    private function iconByDigest(mixed $digest): void
    {
        if (!is_string($digest) || preg_match('/^[0-9a-f]{64}$/', $digest) !== 1) {
            throw new BadRequest('missing or invalid sha256');
        }
        $immutable = 'public, max-age=31536000, immutable';
        if (self::clientHas($digest)) {
            self::sendIcon($digest, null, $immutable);
            return;
        }
        $bytes = ($this->storage)()->iconByDigest($digest);
        if ($bytes === null) {
            throw new BadRequest('no such icon', 404);
        }
        self::sendIcon($digest, $bytes, $immutable);
    }

    /** Sends an icon with its ETag, or 304 when $bytes is null or the client holds that ETag. */
    private static function sendIcon(string $digest, ?string $bytes, string $cacheControl): void
    {
        header('ETag: "' . $digest . '"');
        header("Cache-Control: $cacheControl");
        header('X-Content-Type-Options: nosniff');
        if ($bytes === null || self::clientHas($digest)) {
            http_response_code(304);
            return;
        }
        header('Content-Type: image/x-icon');
        header('Content-Length: ' . strlen($bytes));
        echo $bytes;
    }

    /** True when the request's If-None-Match names the ETag of $digest. */
    private static function clientHas(string $digest): bool
    {
        $header = $_SERVER['HTTP_IF_NONE_MATCH'] ?? '';
        if (!is_string($header) || $header === '') {
            return false;
        }
        foreach (explode(',', $header) as $tag) {
            $tag = trim($tag);
            if ($tag === "\"$digest\"" || $tag === "W/\"$digest\"") {
                return true;
            }
        }
        return false;
    }

    /** Refuses with 403 a client outside the networks that may send icons. */
    private function requireWriter(): void
    {
        $address = $_SERVER['REMOTE_ADDR'] ?? '';
        if (!is_string($address) || !($this->writers)()->contains($address)) {
            throw new BadRequest('this network may not send icons', 403);
        }
    }

    /** [uploaded_at, id] of the gallery's KEY, null for the first page; throws BadRequest when malformed. */
    private static function galleryKey(mixed $key): ?array
    {
        if ($key === null) {
            return null;
        }
        if (!is_string($key) || preg_match('/^([0-9]{1,18})-([1-9][0-9]{0,17})$/', $key, $match) !== 1) {
            throw new BadRequest('invalid before');
        }
        return [(int) $match[1], (int) $match[2]];
    }

    private static function requireMethod(string $method): void
    {
        $actual = $_SERVER['REQUEST_METHOD'] ?? 'GET';
        if ($actual === $method || ($method === 'GET' && $actual === 'HEAD')) {
            return;
        }
        header('Allow: ' . ($method === 'GET' ? 'GET, HEAD' : $method));
        throw new BadRequest("method $actual not allowed", 405);
    }

    /** PHP drops every field of a body over post_max_size; say so instead of "missing field". */
    private static function refuseDroppedBody(): void
    {
        $length = (int) ($_SERVER['CONTENT_LENGTH'] ?? 0);
        if ($_POST === [] && $_FILES === [] && $length > self::iniBytes((string) ini_get('post_max_size'))) {
            throw new BadRequest('request body is too large', 413);
        }
    }

    /** The bytes of the file part "icon", or throws BadRequest. */
    private static function uploadedIcon(): string
    {
        $file = $_FILES['icon'] ?? null;
        if ($file === null || ($file['error'] ?? null) === UPLOAD_ERR_NO_FILE) {
            throw new BadRequest('missing file part: icon');
        }
        if (!is_string($file['tmp_name'] ?? null) || !is_int($file['error'] ?? null)) {
            throw new BadRequest('file part icon must be a single file');
        }
        switch ($file['error']) {
            case UPLOAD_ERR_OK:
                break;
            case UPLOAD_ERR_INI_SIZE:
            case UPLOAD_ERR_FORM_SIZE:
                throw new BadRequest('icon file is larger than 1 MiB');
            case UPLOAD_ERR_PARTIAL:
                throw new BadRequest('icon file arrived incomplete');
            default:
                throw new \RuntimeException('upload failed on the server, PHP upload error ' . $file['error']);
        }
        if ($file['size'] > IcoFile::MAX_BYTES) {
            throw new BadRequest('icon file is larger than 1 MiB');
        }
        $bytes = file_get_contents($file['tmp_name']);
        if ($bytes === false) {
            throw new \RuntimeException('cannot read the uploaded file');
        }
        return $bytes;
    }

    private static function positiveInteger(mixed $text): ?int
    {
        if (!is_string($text) || preg_match('/^[1-9][0-9]{0,17}$/', $text) !== 1) {
            return null;
        }
        return (int) $text;
    }

    private static function iniBytes(string $value): int
    {
        $number = (int) $value;
        return match (strtoupper(substr(trim($value), -1))) {
            'G' => $number << 30,
            'M' => $number << 20,
            'K' => $number << 10,
            default => $number,
        };
    }
}
