// The look's parameters as the panel shows them, in the filter's order. A
// slider is shown in its registered range with two decimals and stored as
// (shown - minimum) / (maximum - minimum); the filter takes a value within
// the six-digit rounding of a two-decimal point as that decimal. A pop-up is
// stored as its item's text.
.pragma library

var parameters = [
    {property: '0', title: 'Vignetting Radius', minimum: 0, maximum: 255, value: 170},
    {property: '1', title: 'Vignetting Amount', minimum: 0, maximum: 255, value: 100},
    {property: '2', title: 'Dodge', minimum: 0, maximum: 255, value: 129},
    {property: '3', title: 'Color', minimum: -127, maximum: 127, value: 0},
    {property: '4', title: 'Color Type', value: 'Type1',
     items: ['Type1', 'Type2'],
     labels: ['Type1 (tint: violet or yellow-green)', 'Type2 (toning: warm brown or cold blue)']},
    {property: '5', title: 'Contrast', minimum: 0, maximum: 255, value: 0},
    {property: '6', title: 'Brightness', minimum: 0.1, maximum: 1.9, value: 1},
    {property: '7', title: 'X-Process', minimum: 0, maximum: 255, value: 255},
    {property: '8', title: 'X-Process Type', value: 'Type2',
     items: ['Type1', 'Type2', 'Type3', 'Type4', 'Type5', 'E6C41', 'BW', 'Vintage'],
     labels: ['Type1 (blue shadows and mint highlights)', 'Type2 (navy shadows and cream highlights)',
              'Type3 (dark teal-green)', 'Type4 (contrasty deep blue and warm)',
              'Type5 (brown shadows and sky-blue highlights)', 'E6C41 (slide as negative: teal and punchy)',
              'BW (black and white)', 'Vintage (faded sepia)']},
    {property: '9', title: 'Lens Type', value: 'Normal',
     items: ['Normal', 'F.Zuiko', 'Expired Film', 'Warm Lens'],
     labels: ['Normal (no lens colour)', 'F.Zuiko (lifted blacks and soft warm whites)',
              'Expired Film (magenta shadows and green highlights)',
              'Warm Lens (violet shadows and yellowed highlights)']}
];

function isSlider(p) {
    return p.items === undefined;
}

// The MLT value of a slider shown at `shown`, and back.
function toMlt(p, shown) {
    return (shown - p.minimum) / (p.maximum - p.minimum);
}

function fromMlt(p, value) {
    return p.minimum + value * (p.maximum - p.minimum);
}

// What the slider shows for a stored value: the two-decimal point the filter
// takes it as (0.588235 is 150, not 149.99992).
function shownValue(p, value) {
    return Math.round(fromMlt(p, value) * 100) / 100;
}

// The item a stored text names, as the filter reads it: the text in any case
// or the number from 1; -1 for none.
function itemIndex(p, text) {
    var t = String(text).trim();
    for (var i = 0; i < p.items.length; ++i) {
        if (p.items[i].toLowerCase() === t.toLowerCase())
            return i;
    }
    var n = /^[0-9]+$/.test(t) ? parseInt(t, 10) : 0;
    return n >= 1 && n <= p.items.length ? n - 1 : -1;
}

// What a look (a velvetshade look file's parameters, by registered name)
// stores in each property; parameters the look leaves out get their default.
function lookProperties(look) {
    var properties = {};
    for (var i = 0; i < parameters.length; ++i) {
        var p = parameters[i];
        var value = look.parameters[p.title] !== undefined ? look.parameters[p.title] : p.value;
        properties[p.property] = isSlider(p) ? toMlt(p, value) : p.items[itemIndex(p, value)];
    }
    return properties;
}
