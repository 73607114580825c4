<?php
// HTTP replies of the service: JSON bodies for the client actions, plain errors for the others.
declare(strict_types=1);

namespace IconService;

/**
 * A request the service refuses. The message is shown to the client as it is, so it never
 * carries stored or submitted text; the code is the HTTP status to answer with.
 */
final class BadRequest extends \RuntimeException
{
    public function __construct(string $message, int $status = 400)
    {
        parent::__construct($message, $status);
    }
}

final class Reply
{
    /** Sends $body as the JSON reply with status $status. */
    public static function json(int $status, array $body): void
    {
        http_response_code($status);
        header('Content-Type: application/json; charset=utf-8');
        header('Cache-Control: no-store');
        // nginx passes these few bytes on as they come instead of gathering the reply first: a
        // node killed between sending its reply and ending the request (php-fpm writes the two
        // apart) then still delivers the whole reply, where a gathered one was cut after its
        // head, and the desktop read an empty answer.
        header('X-Accel-Buffering: no');
        echo json_encode($body, JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE);
    }

    /** Sends {"success":false,"error":$error} with status $status. */
    public static function failure(int $status, string $error): void
    {
        self::json($status, ['success' => false, 'error' => $error]);
    }
}
