// How the page shows each setting: names for the values that have them,
// numbers in their units and the reading of a typed number back. The
// values themselves are the catalogue's plain values.
import { KEY } from "./facts.js";

export const NOTE_NAMES = ["C", "C♯", "D", "E♭", "E", "F", "F♯", "G", "A♭", "A", "B♭", "B"];
export const RESOLUTION_NAMES = ["1/2", "1/4", "1/8", "1/16", "1/32", "1/64", "1/4 triplet", "1/8 triplet",
  "1/16 triplet", "1/32 triplet", "1/8 dotted", "1/16 dotted"];
export const DIRECTION_NAMES = ["Forward", "Backward", "Ping-pong", "Ping-pong, ends twice", "Random", "Random walk"];

// Scale presets as the degrees above the key root they hold.
export const SCALE_PRESETS = [
  ["Chromatic", [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11]],
  ["Major", [0, 2, 4, 5, 7, 9, 11]],
  ["Natural minor", [0, 2, 3, 5, 7, 8, 10]],
  ["Harmonic minor", [0, 2, 3, 5, 7, 8, 11]],
  ["Dorian", [0, 2, 3, 5, 7, 9, 10]],
  ["Phrygian", [0, 1, 3, 5, 7, 8, 10]],
  ["Lydian", [0, 2, 4, 6, 7, 9, 11]],
  ["Mixolydian", [0, 2, 4, 5, 7, 9, 10]],
  ["Major pentatonic", [0, 2, 4, 7, 9]],
  ["Minor pentatonic", [0, 3, 5, 7, 10]],
  ["Blues", [0, 3, 5, 6, 7, 10]],
  ["Whole tone", [0, 2, 4, 6, 8, 10]],
];

// Note names with the octave, middle C (60) being C4.
export function noteName(note) {
  return `${NOTE_NAMES[note % 12]}${Math.floor(note / 12) - 1}`;
}

const LETTERS = { c: 0, d: 2, e: 4, f: 5, g: 7, a: 9, b: 11 };
// A typed note: a number, or a name ("E♭3", "eb3", "F#", "c-1"); a name
// without an octave takes near's. NaN for anything else.
export function readNote(text, near = 60) {
  const typed = String(text).trim().replace("−", "-");
  if (/^\d+$/.test(typed)) return Number(typed);
  const match = /^([a-g])([#♯b♭]?)(-?\d+)?$/i.exec(typed);
  if (!match) return NaN;
  const shift = { "#": 1, "♯": 1, b: -1, "♭": -1 }[match[2]] ?? 0;
  const octave = match[3] !== undefined ? Number(match[3]) : Math.floor(near / 12) - 1;
  return (octave + 1) * 12 + LETTERS[match[1].toLowerCase()] + shift;
}

// Whether a note is a tone of the scale of key root and mask (bit n: n
// semitones above the root).
export function inScale(note, root, mask) {
  return ((mask >> ((((note - root) % 12) + 12) % 12)) & 1) === 1;
}

export function maskOf(degrees) {
  return degrees.reduce((mask, degree) => mask | (1 << degree), 0);
}

const number = (text) => Number.parseFloat(String(text).replace("−", "-"));
const fixed = (digits, unit = "") => ({
  show: (v) => v.toFixed(digits) + unit,
  read: number,
});
const percent = {
  show: (v) => `${Math.round(v * 100)} %`,
  read: (text) => number(text) / 100,
};

// The sliders' formats; a setting without one shows its whole number.
const FORMATS = {
  [KEY.bpm]: fixed(1, " BPM"),
  [KEY.shuffle]: { show: (v) => `${(v * 100).toFixed(1)} %`, read: (text) => number(text) / 100 },
  [KEY.gateScale]: percent,
  [KEY.velocityScale]: percent,
  [KEY.transpose]: { show: (v) => `${v > 0 ? "+" : v < 0 ? "−" : ""}${Math.abs(v)} st`, read: number },
  // Octave range 1 plays the notes as written: it shows as octaves up, as hosts show it.
  [KEY.octave]: { show: (v) => `${v > 1 ? "+" : ""}${v - 1} oct`, read: (text) => number(text) + 1 },
  [KEY.length]: { show: (v) => `${v} steps`, read: number },
  [KEY.curveCc]: { show: (v) => `CC ${v}`, read: (text) => number(String(text).replace(/^\s*cc/i, "")) },
};
const PLAIN = fixed(0);

export function formatOf(key) {
  return FORMATS[key] || PLAIN;
}

// Short words for numbers in diagnostics: 48000 -> "48 kHz".
export function hertz(value) {
  return value >= 1000 ? `${value / 1000} kHz` : `${value} Hz`;
}
