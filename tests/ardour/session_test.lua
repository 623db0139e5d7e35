-- Headless Ardour session driven by session_test.sh, one step per run:
--
--   ardour7-lua session_test.lua create DIR SNAPSHOT
--     Creates the session, a MIDI track "Seq" with Tindrel inserted and a
--     second MIDI track "Rec" whose input is Seq's output, sets Tempo,
--     Direction and one step velocity, records a take of Tindrel's notes on
--     Rec, checks it, saves and closes.
--   ardour7-lua session_test.lua reload DIR SNAPSHOT
--     Loads the saved session (or another snapshot of it), reads the
--     parameters back from the plug-in, records a second take, checks it the
--     same way, and closes without saving.
--   ardour7-lua session_test.lua follow DIR SNAPSHOT
--     Loads the session (its file given a loop range by session_test.sh),
--     turns Follow host on and numbers the steps by their velocities; records
--     a take in the loop range, then, with a tempo change at bar 3, two rolls
--     from the same place across it; checks that every note is on the
--     session's grid at the step its place in the bar calls for, and that the
--     two rolls are the same. Closes without saving.
--
-- Every check prints "CHECK ok|FAIL ..."; the last line is "RESULT: pass" or
-- the run ends in a Lua error (a non-zero exit), after the session was closed.

local mode, dir, snapshot = arg[1], arg[2], arg[3]
local ROLL_SECONDS = tonumber(os.getenv("TINDREL_ROLL_SECONDS") or "3")

-- What the test sets and expects.
local PLUGIN_NAME = "Tindrel"
local PLUGIN_UID = "643D3396653D3529623D3070633D3203"
local PLUGIN_VENDOR = "Norva Music"
local SET_TEMPO = 150   -- BPM
local SET_DIRECTION = 1 -- backwards
local SET_STEP2 = 127   -- step 2's velocity, so the two directions differ
local NOTE = 60         -- middle C
local PPQN = 1920       -- Ardour's ticks per quarter note
local TICK_TOLERANCE = 2
-- Step velocities of the 16-step pattern after the change to step 2; every
-- fourth step (3, 7, 11, 15) is a rest.
local STEP_VELOCITIES = { 100, SET_STEP2, 0, 60, 100, 60, 0, 60, 100, 60, 0, 60, 100, 60, 0, 60 }

local failures = 0
local function check(ok, what)
  if ok then
    print("CHECK ok   " .. what)
  else
    print("CHECK FAIL " .. what)
    failures = failures + 1
  end
  return ok
end

local function approx(a, b, tol) return a ~= nil and math.abs(a - b) <= tol end

local function wait_until(pred, seconds)
  local deadline = seconds * 20
  for _ = 1, deadline do
    if pred() then return true end
    ARDOUR.LuaAPI.usleep(50000)
  end
  return pred()
end

-- Parameters -----------------------------------------------------------------

-- Maps parameter labels to Ardour's parameter index for the inserted plug-in.
local function parameter_index(proc)
  local plugin = proc:to_insert():plugin(0)
  local index = {}
  for i = 0, plugin:parameter_count() - 1 do
    index[plugin:parameter_label(i)] = i
  end
  return index
end

-- Reads a value back from the plug-in itself (Ardour asks the plug-in, not its
-- own copy of the control).
local function read_param(proc, index, label)
  local i = index[label]
  if i == nil then return nil end
  local value, refs = ARDOUR.LuaAPI.get_processor_param(proc, i, true)
  if refs and refs[3] == false then return nil end
  return value
end

local function set_param(proc, index, label, value)
  local i = index[label]
  return i ~= nil and ARDOUR.LuaAPI.set_processor_param(proc, i, value)
end

local function check_params(proc, index, when)
  local tempo = read_param(proc, index, "Tempo")
  check(approx(tempo, SET_TEMPO, 0.01), string.format("%s: Tempo reads %s, expected %d", when, tostring(tempo), SET_TEMPO))
  local direction = read_param(proc, index, "Direction")
  check(approx(direction, SET_DIRECTION, 0.001), string.format("%s: Direction reads %s, expected %d", when, tostring(direction), SET_DIRECTION))
  for k = 1, 4 do
    local v = read_param(proc, index, "Step " .. k)
    check(approx(v, STEP_VELOCITIES[k], 0.001), string.format("%s: Step %d reads %s, expected %d", when, k, tostring(v), STEP_VELOCITIES[k]))
  end
  local run = read_param(proc, index, "Run")
  check(approx(run, 1, 0.001), string.format("%s: Run reads %s, expected 1", when, tostring(run)))
  local resolution = read_param(proc, index, "Resolution")
  check(approx(resolution, 3, 0.001), string.format("%s: Resolution reads %s, expected 3 (16ths)", when, tostring(resolution)))
end

-- How Ardour presents a parameter, from the plug-in's step count: a switch
-- (one step), whole steps, or continuous. (Ardour 7's Lua has no call that
-- prints a plug-in parameter's value as text.)
local PRESENTED = { { "Run", "switch" }, { "Key follow", "switch" }, { "Direction", "steps" },
  { "Resolution", "steps" }, { "Scale mask", "steps" }, { "Step 2", "steps" }, { "Tempo", "continuous" },
  { "Shuffle", "continuous" }, { "Seed", "continuous" } }

local function check_presentation(proc, index, when)
  local plugin = proc:to_insert():plugin(0)
  for _, pair in ipairs(PRESENTED) do
    local i = index[pair[1]]
    local _, refs = plugin:get_parameter_descriptor(i or 0, ARDOUR.ParameterDescriptor())
    local d = refs[2]
    local kind = d.toggled and "switch" or d.integer_step and "steps" or "continuous"
    check(i ~= nil and kind == pair[2], string.format("%s: Ardour presents %s as %s, expected %s", when, pair[1], kind, pair[2]))
  end
end

-- Recording ------------------------------------------------------------------

-- Ticks (PPQN a quarter note) of an Ardour Beats value.
local function ticks_of(beats)
  local whole, part = beats:str():match("^(-?%d+):(%d+)$")
  return tonumber(whole) * PPQN + tonumber(part)
end

local function region_ids(track)
  local ids = {}
  for r in track:playlist():region_list():iter() do
    ids[r:to_stateful():id():to_s()] = true
  end
  return ids
end

-- Records `seconds` (ROLL_SECONDS) of Seq's output on the Rec track, from
-- where the transport stands or from quarter note `from`, in the loop range
-- when `loop`; returns the new regions' note-ons as { ticks, note, velocity }
-- lists, one per new region, ticks from the region's start, and the regions'
-- places on the timeline in ticks (a loop's passes share one recording).
local function record_take(rec, seconds, from, loop)
  local before = region_ids(rec)
  rec:rec_enable_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
  if not check(wait_until(function() return rec:rec_enable_control():get_value() > 0.5 end, 5),
      "the Rec track is armed") then
    return {}
  end
  if from then
    local tm = Temporal.TempoMap.read()
    local sample = tm:sample_at(Temporal.timepos_t.from_ticks(math.floor(from * PPQN + 0.5)))
    tm = nil
    Session:request_locate(sample, false, ARDOUR.LocateTransportDisposition.MustStop, ARDOUR.TransportRequestSource.TRS_UI)
    check(wait_until(function() return Session:transport_sample() == sample end, 5),
      string.format("the transport stands at quarter note %g", from))
  end
  Session:maybe_enable_record(false)
  if loop then
    Session:request_play_loop(true, true)
  else
    Session:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
  end
  local recording = wait_until(function() return Session:actively_recording() end, 10)
  check(recording, "the transport rolls and records")
  if recording then ARDOUR.LuaAPI.usleep(math.floor((seconds or ROLL_SECONDS) * 1000000)) end
  Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
  check(wait_until(function() return Session:transport_stopped() end, 10), "the transport stops")
  if loop then Session:request_play_loop(false, false) end

  -- After the stop, Ardour's butler thread closes the capture and only then
  -- adds the take to the playlist. Nothing here changes the session until the
  -- take is there and the butler has had time to finish: disarming the track
  -- or dropping record while it still works on the capture can crash Ardour 7
  -- in DiskWriter::finish_capture. The track stays armed, as it would in a
  -- GUI session after stopping.
  wait_until(function()
    for r in rec:playlist():region_list():iter() do
      if not before[r:to_stateful():id():to_s()] then return true end
    end
    return false
  end, 20)
  ARDOUR.LuaAPI.wait_for_process_callback(8, 5000)
  ARDOUR.LuaAPI.usleep(500000)

  local takes = {}
  for r in rec:playlist():region_list():iter() do
    if not before[r:to_stateful():id():to_s()] then
      local first, length = ticks_of(r:start():beats()), ticks_of(r:length():beats())
      local notes = {}
      for n in ARDOUR.LuaAPI.note_list(r:to_midiregion():model()):iter() do
        local at = ticks_of(n:time()) - first
        if at >= 0 and at < length then
          notes[#notes + 1] = { ticks = at, note = n:note(), velocity = n:velocity() }
        end
      end
      table.sort(notes, function(a, b) return a.ticks < b.ticks end)
      takes[#takes + 1] = { name = r:name(), notes = notes, position = ticks_of(r:position():beats()) }
    end
  end
  return takes
end

-- The step walk for a direction: 0 forwards, 1 backwards.
local function walk(direction)
  local order = {}
  for k = 1, #STEP_VELOCITIES do
    order[k] = direction == 1 and (#STEP_VELOCITIES + 1 - k) or k
  end
  return order
end

-- Whether the notes (velocities and distances in steps) are a stretch of the
-- walk, starting anywhere in it: each note lands on a step of its velocity and
-- every step skipped in between is a rest.
local function follows_walk(notes, steps, order)
  local n = #order
  for start = 1, n do
    if STEP_VELOCITIES[order[start]] == notes[1].velocity then
      local pos, ok = start, true
      for i = 2, #notes do
        for _ = 1, steps[i] - 1 do
          pos = pos % n + 1
          if STEP_VELOCITIES[order[pos]] ~= 0 then ok = false break end
        end
        if not ok then break end
        pos = pos % n + 1
        if STEP_VELOCITIES[order[pos]] ~= notes[i].velocity then ok = false break end
      end
      if ok then return true end
    end
  end
  return false
end

local function check_take(takes, when)
  if not check(#takes == 1, string.format("%s: one new region recorded (found %d)", when, #takes)) then
    return
  end
  local notes = takes[1].notes
  local tm = Temporal.TempoMap.read()
  local qpm = tm:tempo_at(Temporal.timepos_t(0)):quarter_notes_per_minute()
  tm = nil
  -- Tindrel keeps its own tempo whatever the session's is: one 16th at
  -- SET_TEMPO, in ticks of the session's tempo.
  local sixteenth = PPQN * qpm / (4 * SET_TEMPO)
  print(string.format("INFO %s: region %s, %d notes, session tempo %.3f, one 16th = %.2f ticks",
    when, takes[1].name, #notes, qpm, sixteenth))
  local line = {}
  for i, n in ipairs(notes) do
    line[#line + 1] = string.format("%d/%d/%d", n.ticks, n.note, n.velocity)
    if i >= 40 then break end
  end
  print("INFO notes (ticks/note/velocity): " .. table.concat(line, " "))

  -- About 10 steps a second, three in four sounding.
  local least = math.floor(ROLL_SECONDS * SET_TEMPO / 60 * 4 * 0.75 * 0.6)
  if not check(#notes >= least, string.format("%s: at least %d notes (got %d)", when, least, #notes)) then
    return
  end

  local pitches_ok = true
  for _, n in ipairs(notes) do
    if n.note ~= NOTE then pitches_ok = false end
  end
  check(pitches_ok, string.format("%s: every note is %d", when, NOTE))

  -- Spacing: a whole number of 16ths between neighbours, within a couple of
  -- ticks, and no drift over the take.
  local steps, spacing_ok, worst = { 0 }, true, 0
  for i = 2, #notes do
    local d = notes[i].ticks - notes[i - 1].ticks
    local s = math.floor(d / sixteenth + 0.5)
    local err = math.abs(d - s * sixteenth)
    if err > worst then worst = err end
    if s < 1 or err > TICK_TOLERANCE then
      spacing_ok = false
      print(string.format("INFO %s: notes %d and %d are %d ticks apart", when, i - 1, i, d))
    end
    steps[i] = s
  end
  check(spacing_ok, string.format("%s: notes are whole 16ths apart at %d BPM (worst error %.2f ticks)", when, SET_TEMPO, worst))
  local total = 0
  for i = 2, #notes do total = total + steps[i] end
  local span = notes[#notes].ticks - notes[1].ticks
  check(math.abs(span - total * sixteenth) <= TICK_TOLERANCE,
    string.format("%s: %d steps span %d ticks, expected %.1f", when, total, span, total * sixteenth))

  -- The rest on every fourth step: single and double gaps only, and as many
  -- double gaps as the pattern has rests in that stretch.
  local doubles = 0
  local gaps_ok = true
  for i = 2, #notes do
    if steps[i] == 2 then doubles = doubles + 1 elseif steps[i] ~= 1 then gaps_ok = false end
  end
  check(gaps_ok and math.abs(doubles - total / 4) <= 1,
    string.format("%s: one rest every 4 steps (%d rests in %d steps)", when, doubles, total))

  -- Velocities and rests follow the pattern walked backwards; walked forwards
  -- they would not fit, because step 2 differs from step 4.
  if spacing_ok then
    local backwards = follows_walk(notes, steps, walk(1))
    local forwards = follows_walk(notes, steps, walk(0))
    check(backwards, string.format("%s: notes follow the pattern walked backwards%s", when,
      (not backwards and forwards) and " (they follow it forwards: Direction not applied)" or ""))
  end
end

-- Session steps ----------------------------------------------------------------

local function midi_track(name)
  local list = Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
    ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1), true, ARDOUR.PluginInfo(), nil, nil, 1, name,
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false, false)
  if list:size() ~= 1 then return nil end
  return list:front()
end

local function find_plugin(route)
  for i = 0, 16 do
    local proc = route:nth_plugin(i)
    if proc:isnil() then break end
    if not proc:to_insert():isnil() and proc:display_name() == PLUGIN_NAME then return proc end
  end
  return nil
end

local function run_create()
  local seq = midi_track("Seq")
  local rec = midi_track("Rec")
  if not check(seq ~= nil and rec ~= nil, "two MIDI tracks created") then return end

  local proc = ARDOUR.LuaAPI.new_plugin(Session, PLUGIN_NAME, ARDOUR.PluginType.VST3, "")
  if not check(not proc:isnil(), "Ardour instantiates the VST 3 plug-in " .. PLUGIN_NAME) then return end
  local plugin = proc:to_insert():plugin(0)
  check(plugin:unique_id() == PLUGIN_UID and plugin:maker() == PLUGIN_VENDOR,
    string.format("plug-in identity: %s by %s", plugin:unique_id(), plugin:maker()))
  plugin = nil
  check(seq:add_processor_by_index(proc, 0, nil, true) == 0, "Tindrel inserted on the MIDI track")
  local streams = proc:output_streams()
  check(streams:n_midi() == 1 and streams:n_audio() == 0,
    string.format("Tindrel outputs %d MIDI and %d audio stream(s)", streams:n_midi(), streams:n_audio()))

  local index = parameter_index(proc)
  local defaults_ok = true
  for k, v in ipairs({ 100, 60, 0, 60 }) do
    if not approx(read_param(proc, index, "Step " .. k), v, 0.001) then defaults_ok = false end
  end
  check(defaults_ok and approx(read_param(proc, index, "Run"), 1, 0.001),
    "defaults: Run on, steps 1-4 at 100, 60, 0, 60")

  check(set_param(proc, index, "Tempo", SET_TEMPO), "Tempo set")
  check(set_param(proc, index, "Direction", SET_DIRECTION), "Direction set")
  check(set_param(proc, index, "Step 2", SET_STEP2), "Step 2 set")
  check_params(proc, index, "after setting")
  check_presentation(proc, index, "after setting")

  -- Seq hears nothing; its output feeds Rec and nothing else feeds Rec.
  seq:input():disconnect_all(nil)
  rec:input():disconnect_all(nil)
  local out_name = seq:output():nth(0):name()
  check(rec:input():connect(rec:input():nth(0), out_name, nil) == 0, "Seq's MIDI output routed into Rec")

  check_take(record_take(rec), "first take")
  check(Session:save_state("", false, false, false, false, false) == 0, "session saved")
end

local function run_reload()
  local seq = Session:route_by_name("Seq")
  local rec = Session:route_by_name("Rec")
  if not check(not seq:isnil() and not rec:isnil(), "tracks Seq and Rec restored") then return end
  local proc = find_plugin(seq)
  if not check(proc ~= nil, "Tindrel restored on Seq (not an unknown processor)") then
    for i = 0, 16 do
      local p = seq:nth_processor(i)
      if p:isnil() then break end
      print("INFO processor " .. i .. ": " .. p:display_name())
    end
    return
  end
  check(rec:input():nth(0):connected_to(seq:output():nth(0):name()), "Rec's input still fed by Seq")
  local index = parameter_index(proc)
  check_params(proc, index, "after reload")
  check_take(record_take(rec:to_track()), "take after reload")

  -- Another pattern plays its own velocities (the factory's 100 and 64), not
  -- the steps set on the first; back on the first, they are as set.
  check(set_param(proc, index, "Pattern", 1), "Pattern 2 selected")
  local other = record_take(rec:to_track(), 2)
  local own = #other == 1 and #other[1].notes >= 3
  for _, n in ipairs(own and other[1].notes or {}) do
    if n.velocity ~= 100 and n.velocity ~= 64 then own = false end
  end
  check(own, "pattern 2 plays its own velocities")
  check(set_param(proc, index, "Pattern", 0), "Pattern 1 selected again")
  ARDOUR.LuaAPI.wait_for_process_callback(8, 5000)
  check_params(proc, index, "back on pattern 1")
end

-- Follow host ------------------------------------------------------------------

-- Step k of the 16-step pattern plays at velocity 20 + 6k, so a note's
-- velocity names its step; Tindrel's own tempo is one the session never has.
local FOLLOW_OWN_TEMPO = 97
local function follow_velocity(step) return 20 + 6 * step end
local SIXTEENTH = PPQN // 4
local BAR = 4 * PPQN                      -- the session's 4/4
local TEMPO_CHANGE = 2 * BAR              -- bar 3: 120 BPM before, 150 after
local FOLLOW_FROM = 5.5                   -- quarter notes: bar 2, beat 2 and a half
local LOOP = { 4.9 * PPQN, 6.9 * PPQN }   -- set in the session file by session_test.sh

-- The notes of the takes on the timeline, in ticks, in order.
local function placed(takes)
  local out = {}
  for _, take in ipairs(takes) do
    for _, n in ipairs(take.notes) do
      out[#out + 1] = { ticks = take.position + n.ticks, velocity = n.velocity }
    end
  end
  table.sort(out, function(a, b) return a.ticks < b.ticks end)
  return out
end

local function print_notes(label, notes)
  local line = {}
  for i, n in ipairs(notes) do
    if i > 40 then break end
    line[#line + 1] = string.format("%d/%d", n.ticks, n.velocity)
  end
  print(string.format("INFO %s (ticks/velocity): %s", label, table.concat(line, " ")))
end

-- Every note on a sixteenth of the session's grid, playing the step of its
-- place in the bar: the pattern starts on the bar and follows the host's
-- tempo. Returns the notes' sixteenths.
local function check_grid(notes, when)
  local sixteenths, worst, wrong = {}, 0, nil
  for i, n in ipairs(notes) do
    local s = math.floor(n.ticks / SIXTEENTH + 0.5)
    worst = math.max(worst, math.abs(n.ticks - s * SIXTEENTH))
    sixteenths[i] = s
    if not wrong and n.velocity ~= follow_velocity(s % 16 + 1) then
      wrong = string.format("the note at tick %d has velocity %d, step %d's is %d", n.ticks, n.velocity, s % 16 + 1,
        follow_velocity(s % 16 + 1))
    end
  end
  check(worst <= TICK_TOLERANCE, string.format("%s: %d notes on the session's sixteenths (worst %d ticks off)", when,
    #notes, worst))
  check(wrong == nil, string.format("%s: each note plays the step of its place in the bar%s", when,
    wrong and (" (" .. wrong .. ")") or ""))
  return sixteenths
end

local function run_follow()
  local seq = Session:route_by_name("Seq")
  local rec = Session:route_by_name("Rec")
  if not check(not seq:isnil() and not rec:isnil(), "tracks Seq and Rec restored") then return end
  rec = rec:to_track()
  local proc = find_plugin(seq)
  if not check(proc ~= nil, "Tindrel restored on Seq") then return end
  local index = parameter_index(proc)
  local set_ok = set_param(proc, index, "Follow host", 1) and set_param(proc, index, "Direction", 0) and
      set_param(proc, index, "Tempo", FOLLOW_OWN_TEMPO) and set_param(proc, index, "Length", 16)
  for k = 1, 16 do set_ok = set_param(proc, index, "Step " .. k, follow_velocity(k)) and set_ok end
  check(set_ok, "Follow host on, forwards, steps numbered by velocity")
  check(Session:locations():auto_loop_location() ~= nil, "the session has a loop range")

  -- The loop range, two and a half times: each pass holds the same steps.
  -- (Before the tempo change: Ardour files a loop's passes one after another
  -- on the timeline, where a tempo change would move the later ones.)
  local passes = record_take(rec, 2.5, LOOP[1] / PPQN, true)
  check(#passes >= 2, string.format("the loop was recorded as %d passes", #passes))
  local looped = placed(passes)
  print_notes("loop", looped)
  check_grid(looped, "loop")
  local inside, counts = true, {}
  for _, n in ipairs(looped) do
    if n.ticks < LOOP[1] or n.ticks >= LOOP[2] then inside = false end
    counts[n.ticks] = (counts[n.ticks] or 0) + 1
  end
  local steps_ok = true
  for s = 5 * 4, 7 * 4 - 1 do
    if (counts[s * SIXTEENTH] or 0) < 2 then steps_ok = false end
  end
  check(inside and steps_ok, "loop: steps 5 to 12 in every full pass, nothing outside the range")

  -- Two rolls from the same place, across a tempo change.
  local tm = Temporal.TempoMap.fetch_writable()
  tm:set_tempo(Temporal.Tempo(150, 150, 4), Temporal.timepos_t.from_ticks(TEMPO_CHANGE))
  Temporal.TempoMap.update(tm)
  tm = nil
  local first = placed(record_take(rec, 3.5, FOLLOW_FROM))
  local second = placed(record_take(rec, 3.5, FOLLOW_FROM))
  print_notes("first roll", first)
  print_notes("second roll", second)
  local sixteenths = check_grid(first, "first roll")
  check_grid(second, "second roll")
  local from = math.floor(FOLLOW_FROM * 4)
  check(#first > 0 and sixteenths[1] >= from and sixteenths[1] <= from + 1,
    "first roll: the first note is on the first sixteenth of the roll, or the next")
  local on_bar, after_change = false, 0
  for i, n in ipairs(first) do
    if n.ticks == TEMPO_CHANGE then on_bar = n.velocity == follow_velocity(1) end
    if n.ticks > TEMPO_CHANGE then after_change = after_change + 1 end
  end
  check(on_bar, "first roll: step 1 plays on bar 3")
  check(after_change >= 4, string.format("first roll: %d notes after the tempo change", after_change))
  -- The rolls last as long as the host's clock lets them: the shorter one
  -- is compared.
  local same = math.min(#first, #second) >= 12
  for i = 1, math.min(#first, #second) do
    if first[i].ticks ~= second[i].ticks or first[i].velocity ~= second[i].velocity then same = false end
  end
  check(same, string.format("two rolls from one place record the same notes (%d and %d)", #first, #second))
end

-- Main -------------------------------------------------------------------------

if mode == "create" then
  if create_session(dir, snapshot, 48000) == nil then error("cannot create the session in " .. dir) end
elseif mode == "reload" or mode == "follow" then
  if load_session(dir, snapshot) == nil then error("cannot load snapshot " .. snapshot .. " of " .. dir) end
else
  error("usage: session_test.lua create|reload|follow DIR SNAPSHOT")
end
print(string.format("INFO engine: %s, %d Hz, %d samples a cycle", AudioEngine:current_backend_name(),
  Session:nominal_sample_rate(), Session:get_block_size()))

local runs = { create = run_create, reload = run_reload, follow = run_follow }
local ok, err = pcall(runs[mode])
if not ok then
  check(false, "script error: " .. tostring(err))
end
-- Ardour hangs on close while Lua still holds routes or processors.
collectgarbage()
collectgarbage()
close_session()

if failures > 0 then
  error(string.format("%d check(s) failed", failures))
end
print("RESULT: pass")
