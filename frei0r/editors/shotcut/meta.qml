// Velvetshade in Shotcut's filter list. Properties go by the filter's
// parameter index; keyframe curves run over MLT's 0..1.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr('Velvetshade')
    keywords: qsTr('film look vignette cross process lens vintage grade', 'search keywords for the Velvetshade video filter') + ' velvetshade'
    objectName: 'velvetshade'
    mlt_service: 'frei0r.velvetshade'
    qml: 'ui.qml'

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['0', '1', '2', '3', '5', '6', '7']
        parameters: [
            Parameter {
                name: qsTr('Vignetting Radius')
                property: '0'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Vignetting Amount')
                property: '1'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Dodge')
                property: '2'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Color')
                property: '3'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Contrast')
                property: '5'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Brightness')
                property: '6'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('X-Process')
                property: '7'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
