// The live-results page: the schedule and one heat, kept current by the
// server's event stream. Every text goes into the page as text
// (textContent), never as markup.
"use strict";

const state = { schedule: { meet: "", races: [] }, heats: new Map(), selected: null };

const key = (race, heat) => race + "\u0000" + heat;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

// The heat named by the address (#/RACE/HEAT), else the first one swimming,
// else the first one.
function chooseHeat() {
  const parts = location.hash.replace(/^#\/?/, "").split("/").map(decodeURIComponent);
  if (parts.length === 2 && state.heats.has(key(parts[0], parts[1]))) return key(parts[0], parts[1]);
  const all = [];
  for (const race of state.schedule.races)
    for (const heat of race.heats) all.push(key(race.race, heat.heat));
  const swimming = all.find((k) => state.heats.get(k)?.rows.some((r) => r.state === "swimming"));
  return swimming ?? all[0] ?? null;
}

function renderSchedule() {
  document.getElementById("meet").textContent = state.schedule.meet || "Live results";
  document.title = (state.schedule.meet ? state.schedule.meet + " – " : "") + "Live results";
  const nav = document.getElementById("schedule");
  nav.replaceChildren();
  for (const race of state.schedule.races) {
    const box = el("div", "race");
    box.dataset.race = race.race;
    box.append(el("div", "race-title", race.title || race.race));
    const meta = [race.distance ? race.distance + " m" : "", race.style].filter(Boolean).join(" ");
    box.append(el("div", "race-meta", meta));
    const heats = el("div", "heats");
    for (const heat of race.heats) {
      const link = el("a", "", "Heat " + heat.heat);
      link.href = "#/" + encodeURIComponent(race.race) + "/" + encodeURIComponent(heat.heat);
      link.setAttribute("aria-current", String(state.selected === key(race.race, heat.heat)));
      heats.append(link);
    }
    box.append(heats);
    nav.append(box);
  }
}

function renderHeat(previous) {
  const heat = state.selected ? state.heats.get(state.selected) : null;
  const head = document.getElementById("results-head");
  const body = document.getElementById("results-body");
  head.replaceChildren();
  body.replaceChildren();
  if (!heat) {
    document.getElementById("heat-title").textContent = "Choose a heat";
    return;
  }
  document.getElementById("heat-title").textContent = (heat.title || heat.race) + " – Heat " + heat.heat;
  head.append(el("th", "place", "Place"), el("th", "num", "Lane"), el("th", "", "Name"),
              el("th", "", "Nation"), el("th", "club", "Club"));
  for (let lap = 1; lap <= heat.laps; ++lap)
    head.append(el("th", "num split", heat.lapLength ? lap * heat.lapLength + " m" : "Lap " + lap));
  head.append(el("th", "num", "Time"));

  const before = new Map((previous?.rows ?? []).map((r) => [r.lane, r]));
  for (const row of heat.rows) {
    const tr = el("tr");
    tr.dataset.lane = row.lane;
    tr.dataset.state = row.state;
    if (row.place) tr.dataset.place = row.place;
    tr.append(el("td", "place", row.place ?? row.status));
    tr.append(el("td", "num lane", row.lane));
    tr.append(el("td", "name", row.name || "—"));
    tr.append(el("td", "nation", row.nation));
    tr.append(el("td", "club", row.club));
    const old = before.get(row.lane);
    row.splits.forEach((split, i) => {
      const td = el("td", "num split", split);
      td.dataset.lap = i + 1;
      if (old && old.splits[i] !== split) td.classList.add("changed");
      tr.append(td);
    });
    const time = el("td", "num time", row.time);
    if (old && old.time !== row.time) time.classList.add("changed");
    tr.append(time);
    body.append(tr);
  }
}

function render(previousHeat) {
  const chosen = chooseHeat();
  if (chosen !== state.selected) previousHeat = null;
  state.selected = chosen;
  renderSchedule();
  renderHeat(previousHeat);
}

function setConnection(word) {
  const badge = document.getElementById("connection");
  badge.dataset.state = word;
  badge.textContent = word;
}

function connect() {
  const source = new EventSource("/events");
  source.addEventListener("open", () => setConnection("live"));
  source.addEventListener("error", () => setConnection("reconnecting"));
  source.addEventListener("snapshot", (e) => {
    const snapshot = JSON.parse(e.data);
    state.schedule = snapshot.schedule;
    state.heats = new Map(snapshot.heats.map((h) => [key(h.race, h.heat), h]));
    document.body.dataset.eventId = e.lastEventId;
    render(state.selected ? state.heats.get(state.selected) : null);
  });
  source.addEventListener("schedule", (e) => {
    state.schedule = JSON.parse(e.data);
    document.body.dataset.eventId = e.lastEventId;
    render(state.selected ? state.heats.get(state.selected) : null);
  });
  source.addEventListener("heat", (e) => {
    const heat = JSON.parse(e.data);
    const k = key(heat.race, heat.heat);
    const previous = state.heats.get(k);
    if (heat.removed) state.heats.delete(k); else state.heats.set(k, heat);
    document.body.dataset.eventId = e.lastEventId;
    // Without a heat in the address the page follows the heat being swum.
    if (k === state.selected) render(previous);
    else if (!location.hash) render(state.selected ? state.heats.get(state.selected) : null);
  });
  source.addEventListener("closed", (e) => {
    setConnection("closed");
    source.close();
    document.getElementById("heat-title").textContent = JSON.parse(e.data).error;
  });
}

window.addEventListener("hashchange", () => render(null));
connect();
