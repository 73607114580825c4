<?php
// Router for php -S in the end-to-end test: the real icon service, except that it turns down
// the uploads of two names, in the two ways a service can:
//   "Rejected By Service"  200 with {"success":false,...}  (a JSON refusal; counts as failed)
//   "Refused With 400"     400 with {"success":false,...}
// Nothing is stored for either; every other request goes to the service unchanged.
$refusals = ['Rejected By Service' => 200, 'Refused With 400' => 400];
if (($_GET['r'] ?? '') === 'sw/upload' && isset($refusals[$_POST['name'] ?? null])) {
    http_response_code($refusals[$_POST['name']]);
    header('Content-Type: application/json; charset=utf-8');
    echo '{"success":false,"error":"refused by the test"}';
    return true;
}
return false;
