// Velvetshade's panel in Shotcut: the ten parameters in the filter's order,
// sliders in their registered ranges and keyframable, pop-ups with what each
// item does, and the named looks as presets.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut
import 'velvetshade.js' as Look
import 'looks.js' as Looks

Shotcut.KeyframableFilter {
    id: root

    property var allProperties: Look.parameters.map(function (p) {
        return p.property;
    })
    property var sliders: Look.parameters.filter(Look.isSlider)

    function setFilterProperties(properties) {
        for (var name in properties)
            filter.set(name, properties[name]);
    }

    function setControls() {
        var position = getPosition();
        blockUpdate = true;
        for (var i = 0; i < Look.parameters.length; ++i) {
            var p = Look.parameters[i];
            var row = rows.itemAt(i);
            // A property never set leaves the filter at its default.
            var isSet = filter.get(p.property) !== '';
            if (Look.isSlider(p)) {
                row.slider.value = isSet ? Look.shownValue(p, filter.getDouble(p.property, position)) : p.value;
                row.keyframes.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(p.property) > 0;
            } else {
                row.combo.currentIndex = Look.itemIndex(p, isSet ? filter.get(p.property) : p.value);
            }
        }
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        for (var i = 0; i < Look.parameters.length; ++i)
            rows.itemAt(i).slider.enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setControls();
        for (var i = 0; i < Look.parameters.length; ++i) {
            var p = Look.parameters[i];
            if (Look.isSlider(p))
                updateFilter(p.property, Look.toMlt(p, rows.itemAt(i).slider.value), rows.itemAt(i).keyframes, null);
        }
    }

    keyframableParameters: sliders.map(function (p) {
        return p.property;
    })
    startValues: sliders.map(function (p) {
        return Look.toMlt(p, p.value);
    })
    middleValues: sliders.map(function (p) {
        return Look.toMlt(p, p.value);
    })
    endValues: sliders.map(function (p) {
        return Look.toMlt(p, p.value);
    })
    width: 420
    height: 360
    Component.onCompleted: {
        if (filter.isNew) {
            filter.blockSignals = true;
            for (var i = 0; i < Looks.looks.length; ++i) {
                setFilterProperties(Look.lookProperties(Looks.looks[i]));
                filter.savePreset(allProperties, Looks.looks[i].name);
            }
            setFilterProperties(Look.lookProperties({
                "parameters": {
                }
            }));
            filter.savePreset(allProperties);
            filter.blockSignals = false;
            // The preset list was read before these were saved.
            filter.loadPresets();
        }
        setControls();
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 8

        RowLayout {
            Label {
                text: qsTr('Preset')
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: 130
            }

            Shotcut.Preset {
                id: preset

                parameters: allProperties
                Layout.fillWidth: true
                onBeforePresetLoaded: resetSimpleKeyframes()
                onPresetSelected: {
                    setControls();
                    initializeSimpleKeyframes();
                }
            }
        }

        Repeater {
            id: rows

            model: Look.parameters.length

            RowLayout {
                property var parameter: Look.parameters[index]
                property bool isSlider: Look.isSlider(parameter)
                property alias slider: spinner
                property alias combo: comboBox
                property alias keyframes: keyframesButton

                Label {
                    text: qsTr(parameter.title)
                    horizontalAlignment: Text.AlignRight
                    Layout.preferredWidth: 130
                }

                Shotcut.SliderSpinner {
                    id: spinner

                    visible: isSlider
                    minimumValue: isSlider ? parameter.minimum : 0
                    maximumValue: isSlider ? parameter.maximum : 1
                    decimals: 2
                    stepSize: 0.01
                    Layout.fillWidth: true
                    onValueChanged: {
                        if (isSlider)
                            root.updateFilter(parameter.property, Look.toMlt(parameter, value), keyframesButton, root.getPosition());
                    }
                }

                Shotcut.ComboBox {
                    id: comboBox

                    visible: !isSlider
                    model: isSlider ? [] : parameter.labels
                    Layout.fillWidth: true
                    onActivated: filter.set(parameter.property, parameter.items[currentIndex])
                }

                Shotcut.UndoButton {
                    onClicked: {
                        if (isSlider) {
                            spinner.value = parameter.value;
                        } else {
                            comboBox.currentIndex = Look.itemIndex(parameter, parameter.value);
                            filter.set(parameter.property, parameter.value);
                        }
                    }
                }

                Shotcut.KeyframesButton {
                    id: keyframesButton

                    visible: isSlider
                    onToggled: {
                        root.enableControls(true);
                        root.toggleKeyframes(checked, parameter.property, Look.toMlt(parameter, spinner.value));
                    }
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }
}
