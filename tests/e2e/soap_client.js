// A second, independent SOAP client (the npm package "soap") against the running
// service: loads the published WSDL and calls every operation of ISoapTest.
// Prints one line per check and exits 1 when any failed.
const soap = require('soap');

let failures = 0;
function check(name, got, want) {
  const g = JSON.stringify(got);
  const w = JSON.stringify(want);
  if (g === w) {
    console.log(`ok   node ${name}`);
  } else {
    failures++;
    console.log(`FAIL node ${name}\n  expected: ${w}\n  actual:   ${g}`);
  }
}

// This client hands back an accessor as an object with its attributes and its
// text under "$value"; an empty text has none.
const text = (v) => (v !== null && typeof v === 'object' ? (v.$value ?? '') : v);
const num = (v) => Number(text(v));

async function call(client, op, value) {
  try {
    const [result] = await client[op + 'Async']({Value: value});
    return result.return;
  } catch (e) {
    failures++;
    console.log(`FAIL node ${op}: ${e.message}`);
    return undefined;
  }
}

(async () => {
  let client;
  try {
    client = await soap.createClientAsync(process.argv[2]);
  } catch (e) {
    console.log(`FAIL node loads the WSDL: ${e.message}`);
    process.exit(1);
  }
  check('WSDL operations', Object.keys(client.describe().ISoapTestService.ISoapTestPort).sort(),
        ['echoDouble', 'echoDoubleArray', 'echoEnum', 'echoMyEmployee']);

  for (const d of [2.5, 0, -1e300, 0.1, 123456.789]) {
    check(`echoDouble(${d})`, num(await call(client, 'echoDouble', d)), d);
  }
  for (const m of ['etNone', 'etAFew', 'etSome', 'etAlot']) {
    check(`echoEnum(${m})`, text(await call(client, 'echoEnum', m)), m);
  }
  const items = (r) => (r && r.item !== undefined ? [].concat(r.item).map(num) : []);
  check('echoDoubleArray of four',
        items(await call(client, 'echoDoubleArray', {item: [1.5, -2, 3e10, 0.25]})),
        [1.5, -2, 3e10, 0.25]);
  check('echoDoubleArray empty', items(await call(client, 'echoDoubleArray', {})), []);

  const e = await call(client, 'echoMyEmployee',
                       {LastName: 'Doe', FirstName: 'John', Salary: 1000.5}) || {};
  check('echoMyEmployee LastName', text(e.LastName), '');
  check('echoMyEmployee FirstName', text(e.FirstName), '');
  check('echoMyEmployee Salary', num(e.Salary), 0);

  try {
    await client.echoEnumAsync({Value: 'etMany'});
    check('echoEnum(etMany) is a fault', false, true);
  } catch (err) {
    const fault = err.root && err.root.Envelope.Body.Fault;
    check('echoEnum(etMany) fault', fault && fault.faultstring,
          "Value: 'etMany' is not a member of TEnumTest");
  }
  process.exit(failures === 0 ? 0 : 1);
})();
