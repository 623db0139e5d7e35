// The scale: the key root by note name, the scale as twelve switches (one
// per degree above the root, named by the note it is in this key) with the
// common scales as presets, and key follow.
import { KEY } from "./facts.js";
import { NOTE_NAMES, SCALE_PRESETS, maskOf } from "./display.js";
import { choice, element, toggle } from "./controls.js";

export function scalePanel(model) {
  const degrees = NOTE_NAMES.map((_, degree) => {
    const button = element("button", { class: "degree", type: "button", "data-degree": degree });
    button.addEventListener("click", () => {
      const mask = model.value(KEY.scaleMask) ^ (1 << degree);
      // A scale keeps at least one note.
      if (mask !== 0) model.edit(KEY.scaleMask, mask);
    });
    return button;
  });
  const keys = element("div", { class: "ctl degrees", "data-param": KEY.scaleMask, role: "group",
    "aria-label": "Scale notes", title: "Double-click to reset" }, degrees);
  keys.addEventListener("dblclick", () => model.reset(KEY.scaleMask));

  const preset = element("select", { id: "scale-preset" }, [element("option", { value: "", text: "Custom" })]);
  for (const [name, notes] of SCALE_PRESETS) preset.append(element("option", { value: maskOf(notes), text: name }));
  preset.addEventListener("change", () => {
    if (preset.value !== "") model.edit(KEY.scaleMask, Number(preset.value));
  });

  const show = () => {
    const mask = model.value(KEY.scaleMask);
    const root = model.value(KEY.keyRoot);
    keys.dataset.value = String(mask);
    degrees.forEach((button, degree) => {
      const on = (mask >> degree) & 1;
      const note = NOTE_NAMES[(root + degree) % 12];
      button.textContent = note;
      button.setAttribute("aria-pressed", on ? "true" : "false");
      button.setAttribute("aria-label", `${note} (degree ${degree + 1}) ${on ? "in" : "out of"} the scale`);
      button.classList.toggle("sharp", note.length > 1);
    });
    const match = [...preset.options].find((option) => option.value === String(mask));
    preset.value = match ? match.value : "";
  };
  model.watch(KEY.scaleMask, show);
  model.watch(KEY.keyRoot, show);

  return element("div", { class: "scale" }, [
    element("div", { class: "row" }, [
      choice(model, KEY.keyRoot, NOTE_NAMES, { label: "Key" }),
      element("div", { class: "ctl choice" }, [element("label", { class: "ctl-name", for: "scale-preset",
        text: "Scale" }), preset]),
      toggle(model, KEY.keyFollow, { label: "Key follow" }),
    ]),
    keys,
  ]);
}
