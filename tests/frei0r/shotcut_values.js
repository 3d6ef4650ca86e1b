// Shotcut's panel scripts run outside Shotcut: the values its panel stores.
//   node shotcut_values.js FOLDER '{"label": {"Registered Name": shown, ...}, ...}'
// prints {"parameters": [...], "cases": {label: {property: value}},
//         "looks": {name: {property: value}}, "lookFiles": [look, ...]}
'use strict';
const fs = require('fs');
const vm = require('vm');

// A QML script: its library pragma is QML's, not JavaScript's.
function load(file) {
    const context = {};
    vm.createContext(context);
    vm.runInContext(fs.readFileSync(file, 'utf8').replace(/^\.pragma library$/m, ''), context, {filename: file});
    return context;
}

const [folder, cases] = process.argv.slice(2);
const Look = load(folder + '/velvetshade.js');
const Looks = load(folder + '/looks.js');
const out = {parameters: Look.parameters, cases: {}, looks: {}, lookFiles: Looks.looks};
for (const [label, values] of Object.entries(JSON.parse(cases)))
    out.cases[label] = Look.lookProperties({parameters: values});
for (const look of Looks.looks)
    out.looks[look.name] = Look.lookProperties(look);
process.stdout.write(JSON.stringify(out));
