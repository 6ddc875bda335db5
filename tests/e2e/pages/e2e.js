// Reports to the form server where the page's elements are on the screen (on a mouse move,
// since only a mouse event tells where the viewport lies), what is selected and which field
// has the focus. The t= parameter of the address tags every report.
(function () {
  const page = location.pathname.replace(/^\//, "") || "index.html";
  const tag = new URLSearchParams(location.search).get("t") || "";
  function send(event) {
    event.page = page;
    event.tag = tag;
    fetch("/event", {
      method: "POST",
      body: JSON.stringify(event),
      headers: { "Content-Type": "application/json" },
      keepalive: true,
    }).catch(() => {});
  }
  send({ kind: "load" });
  // Every move reports, not only a changed origin: a browser that saw the pointer at load
  // time has already reported, and the test that asks next must still get an answer.
  document.addEventListener("mousemove", (e) => {
    const origin = [e.screenX - e.clientX, e.screenY - e.clientY];
    const rects = {};
    for (const el of document.querySelectorAll("[id]")) {
      const r = el.getBoundingClientRect();
      rects[el.id] = [r.left, r.top, r.width, r.height];
    }
    // Where the pointer is in the viewport: on Wayland the page knows no screen position, and
    // the test finds the viewport from where it put the pointer.
    send({ kind: "layout", origin, client: [e.clientX, e.clientY], rects,
           scale: window.devicePixelRatio });
  });
  let timer = 0;
  document.addEventListener("selectionchange", () => {
    clearTimeout(timer);
    timer = setTimeout(() => send({ kind: "selection", text: String(document.getSelection()) }), 30);
  });
  // After a click the selection is settled: report it with the click count (3 for a triple).
  document.addEventListener("click", (e) =>
    send({ kind: "click", clicks: e.detail, text: String(document.getSelection()) }));
  // An input method's composition: "start", "update" (the preedit so far), "end" (committed).
  for (const phase of ["start", "update", "end"]) {
    document.addEventListener("composition" + phase, (e) =>
      send({ kind: "composition", phase, text: e.data || "" }));
  }
  document.addEventListener("focusin", (e) => send({ kind: "focus", text: e.target.id || "" }));
  // Every key as the page sees it on keydown, for pages that filter or format on it.
  // The reports may reach the server out of order: n is the page's own count.
  let keys = 0;
  document.addEventListener("keydown", (e) => send({ kind: "keydown", text: e.key,
    fields: { n: String(++keys), code: e.code, target: e.target.id || "",
              ctrl: String(e.ctrlKey) } }), true);
})();
