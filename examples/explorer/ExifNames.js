.pragma library

// Names of common EXIF tags, by table. Other tags show their number only.
var names = {
    "Image": { 256: "ImageWidth", 257: "ImageLength", 270: "ImageDescription", 271: "Make", 272: "Model",
               274: "Orientation", 282: "XResolution", 283: "YResolution", 296: "ResolutionUnit",
               305: "Software", 306: "DateTime", 315: "Artist", 531: "YCbCrPositioning",
               33432: "Copyright", 34665: "ExifIFDPointer", 34853: "GPSInfoIFDPointer" },
    "Exif": { 33434: "ExposureTime", 33437: "FNumber", 34850: "ExposureProgram", 34855: "ISOSpeedRatings",
              36864: "ExifVersion", 36867: "DateTimeOriginal", 36868: "DateTimeDigitized",
              37377: "ShutterSpeedValue", 37378: "ApertureValue", 37380: "ExposureBiasValue",
              37383: "MeteringMode", 37385: "Flash", 37386: "FocalLength", 37500: "MakerNote",
              37510: "UserComment", 40960: "FlashpixVersion", 40961: "ColorSpace",
              40962: "PixelXDimension", 40963: "PixelYDimension", 41986: "ExposureMode",
              41987: "WhiteBalance", 41990: "SceneCaptureType" },
    "GPS": { 0: "GPSVersionID", 1: "GPSLatitudeRef", 2: "GPSLatitude", 3: "GPSLongitudeRef",
             4: "GPSLongitude", 5: "GPSAltitudeRef", 6: "GPSAltitude", 7: "GPSTimeStamp",
             18: "GPSMapDatum", 29: "GPSDateStamp" }
}

function name(table, tag) {
    return names[table][tag] || ""
}

var months = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
              "October", "November", "December"]
var orientations = { 1: "upright", 2: "mirrored", 3: "turned 180\u00b0", 4: "mirrored upside down",
                     5: "mirrored, turned 90\u00b0 left", 6: "turned 90\u00b0 right",
                     7: "mirrored, turned 90\u00b0 right", 8: "turned 90\u00b0 left" }
var references = { "N": "north", "S": "south", "E": "east", "W": "west" }

// A text arrives as a one-element list holding the string (its count
// includes the closing zero); an empty text as the string itself.
function text(value) {
    return Array.isArray(value) && value.length === 1 ? String(value[0]) : String(value)
}

function number(value, digits) {
    return Number.isInteger(value) ? String(value) : value.toFixed(digits).replace(/\.?0+$/, "")
}

// "2026:05:31 12:30:00", the EXIF date-time form, as "31 May 2026, 12:30:00";
// a date alone ("2026:05:31", as GPS dates are) as "31 May 2026".
function dateTime(value) {
    var m = /^(\d{4}):(\d{2}):(\d{2})(?: (\d{2}:\d{2}:\d{2}))?$/.exec(text(value))
    if (!m || Number(m[2]) < 1 || Number(m[2]) > 12)
        return text(value)
    return Number(m[3]) + " " + months[Number(m[2]) - 1] + " " + m[1] + (m[4] ? ", " + m[4] : "")
}

// Degrees, minutes and seconds, as three numbers.
function degrees(value) {
    if (!Array.isArray(value) || value.length !== 3)
        return plain(value)
    return number(value[0], 4) + "\u00b0 " + number(value[1], 4) + "\u2032 " + number(value[2], 2) + "\u2033"
}

// Exposure in seconds, as photographers write it: 1/250 s, 2 s.
function exposure(seconds) {
    if (typeof seconds !== "number" || !(seconds > 0) || !isFinite(seconds))
        return plain(seconds)
    return seconds >= 1 ? number(seconds, 1) + " s" : "1/" + Math.round(1 / seconds) + " s"
}

// Four bytes of ASCII digits, such as "0220": version 2.20.
function version(value) {
    var bytes = Array.isArray(value) && value.length === 1 ? value[0] : value
    if (!(bytes instanceof ArrayBuffer) || bytes.byteLength !== 4)
        return plain(value)
    var digits = ""
    new Uint8Array(bytes).forEach(function (b) { digits += String.fromCharCode(b) })
    return /^\d{4}$/.test(digits) ? Number(digits.substr(0, 2)) + "." + digits.substr(2) : plain(value)
}

// The decimal position of the GPS properties: 52.500000° N, 13.410000° E, 34 m.
function position(latitude, longitude, altitude) {
    var result = Math.abs(latitude).toFixed(6) + "\u00b0 " + (latitude < 0 ? "S" : "N")
    if (!isNaN(longitude))
        result += ", " + Math.abs(longitude).toFixed(6) + "\u00b0 " + (longitude < 0 ? "W" : "E")
    if (!isNaN(altitude))
        result += ", " + number(altitude, 1) + " m"
    return result
}

// Values arrive as numbers, strings, lists (count above one) or ArrayBuffers
// (UNDEFINED data).
function plain(value) {
    if (value === undefined || value === null)
        return ""
    if (value instanceof ArrayBuffer)
        return value.byteLength + " bytes"
    if (Array.isArray(value))
        return value.map(plain).join(", ")
    if (typeof value === "number")
        return number(value, 4)
    return String(value)
}

// The value of one tag as a person reads it; tags without a rule of their
// own as plain values.
function format(table, tag, value) {
    if (value === undefined || value === null)
        return ""
    if (table === "Image") {
        switch (tag) {
        case 274: return orientations[value] ? value + " (" + orientations[value] + ")" : plain(value)
        case 296: return value === 2 ? "inch" : value === 3 ? "centimetre" : plain(value)
        case 306: return dateTime(value)
        case 34665: case 34853: return "at byte " + value
        }
    } else if (table === "Exif") {
        switch (tag) {
        case 33434: return exposure(value)
        case 33437: return typeof value === "number" ? "f/" + number(value, 1) : plain(value)
        case 34855: return "ISO " + plain(value)
        case 36864: case 40960: return version(value)
        case 36867: case 36868: return dateTime(value)
        case 37380: return typeof value === "number" ? (value > 0 ? "+" : "") + number(value, 2) + " EV" : plain(value)
        case 37385: return typeof value === "number" ? (value & 1 ? "fired" : "did not fire") : plain(value)
        case 37386: return typeof value === "number" ? number(value, 1) + " mm" : plain(value)
        case 40962: case 40963: return plain(value) + " px"
        }
    } else if (table === "GPS") {
        switch (tag) {
        case 1: case 3: return references[text(value)] || text(value)
        case 2: case 4: return degrees(value)
        case 5: return value === 0 ? "above sea level" : value === 1 ? "below sea level" : plain(value)
        case 6: return typeof value === "number" ? number(value, 1) + " m" : plain(value)
        case 7:
            if (Array.isArray(value) && value.length === 3)
                return value.map(function (v, i) { return (v < 10 ? "0" : "") + (i < 2 ? v : number(v, 2)) })
                            .join(":") + " UTC"
            return plain(value)
        case 29: return dateTime(value)
        }
    }
    return Array.isArray(value) && value.length === 1 && typeof value[0] === "string" ? value[0] : plain(value)
}
