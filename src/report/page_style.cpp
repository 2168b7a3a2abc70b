#include "report/page_style.h"

namespace velto {

std::string pageStyle() {
  return R"css(
:root { --run0: #e8f0fb; --run0-edge: #7aa2d6; --run1: #eef7e6; --run1-edge: #86b85f;
  --cut: #d0342c; --threshold: #1f5fbf; --ink: #1d232b; --muted: #5d6773; }
* { box-sizing: border-box; }
body { margin: 0; padding: 16px 24px 40px; font: 14px/1.4 system-ui, -apple-system, "Segoe UI",
  Roboto, "DejaVu Sans", sans-serif; color: var(--ink); background: #fafbfc; }
h1 { font-size: 20px; margin: 0 0 2px; }
h2 { font-size: 16px; margin: 22px 0 6px; }
header p { margin: 0; color: var(--muted); overflow-wrap: anywhere; }
code { font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.note { color: var(--muted); margin: 0 0 10px; max-width: 900px; }
.summaries { display: flex; flex-wrap: wrap; gap: 12px; align-items: flex-start; }
table.summary { border-collapse: collapse; background: #fff; border: 1px solid #dde2e8; }
table.summary th, table.summary td { padding: 3px 12px; text-align: left; border-bottom: 1px solid #eef1f4; }
table.summary th { font-weight: 500; color: var(--muted); }
#sheet { display: flex; flex-wrap: wrap; gap: 12px; align-items: flex-start; }
/* A box never grows past the sheet: a long group wraps its tiles into rows instead of
   widening the page. */
.group { border: 2px solid; border-radius: 8px; padding: 6px 8px 8px; min-width: 0;
  max-width: 100%; }
.group.run0 { background: var(--run0); border-color: var(--run0-edge); }
.group.run1 { background: var(--run1); border-color: var(--run1-edge); }
.group.undated { background: #f1f1f1; border: 2px dashed #9a9a9a; }
.head { display: flex; flex-wrap: wrap; column-gap: 8px; align-items: baseline;
  margin-bottom: 6px; }
.gnum { font-weight: 600; }
.tg { color: var(--muted); font-size: 12px; }
.why { color: var(--muted); font-size: 12px; font-style: italic; }
.tiles { display: flex; flex-wrap: wrap; gap: 6px; }
.tile { margin: 0; width: 168px; background: #fff; border: 1px solid #d3d8de; border-radius: 4px;
  padding: 4px; position: relative; }
.tile.noprint { border: 2px solid var(--cut); }
.tile.near { outline: 3px solid var(--threshold); }
.pic { width: 158px; height: 158px; display: flex; align-items: center; justify-content: center;
  background: #f4f5f7; }
.pic img { display: block; max-width: 158px; max-height: 158px; width: auto; height: auto; }
.placeholder { width: 100%; height: 100%; display: flex; align-items: center;
  justify-content: center; color: #8a3b36; background: repeating-linear-gradient(45deg, #f6e3e1,
  #f6e3e1 8px, #fbf0ef 8px, #fbf0ef 16px); font-size: 12px; }
figcaption { font-size: 12px; margin-top: 3px; overflow: hidden; text-overflow: ellipsis;
  white-space: nowrap; }
.flag { position: absolute; top: 8px; left: 8px; background: var(--cut); color: #fff;
  font-size: 11px; padding: 1px 5px; border-radius: 3px; }
.plotbox { overflow-x: auto; background: #fff; border: 1px solid #dde2e8; border-radius: 6px;
  padding: 4px; }
svg.plot { display: block; font-size: 11px; }
/* A phone's width: smaller margins and tiles, two of them to a row. */
@media (max-width: 540px) {
  body { padding: 12px 10px 32px; }
  .tile { width: 150px; }
  .pic { width: 140px; height: 140px; }
  .pic img { max-width: 140px; max-height: 140px; }
}
svg.plot .run0 { fill: var(--run0); }
svg.plot .run1 { fill: var(--run1); }
svg.plot .run.undated { fill: #ececec; }
svg.plot .grid { stroke: #d9dee4; stroke-width: 1; }
svg.plot .ytick { text-anchor: end; fill: var(--muted); }
svg.plot .xtick, svg.plot .runlabel { text-anchor: middle; fill: var(--muted); }
svg.plot .runlabel { font-weight: 600; }
svg.plot .axis { text-anchor: middle; fill: var(--muted); }
svg.plot .tg-change { stroke: #6b7480; stroke-width: 1.5; stroke-dasharray: 5 4; }
svg.plot .cut-line { stroke: var(--cut); stroke-width: 2; }
svg.plot .threshold { stroke: var(--threshold); stroke-width: 2; }
svg.plot .thresholdlabel { text-anchor: end; fill: var(--threshold); font-weight: 600; }
svg.plot .scores { fill: none; stroke: #39424d; stroke-width: 1.5; }
svg.plot circle.gap { fill: #39424d; stroke: #fff; stroke-width: 1.5; cursor: pointer; }
svg.plot circle.gap.calibrates { fill: #fff; stroke: #39424d; stroke-width: 2; }
svg.plot circle.gap.cut { fill: var(--cut); }
svg.plot circle.gap:hover { stroke: var(--threshold); stroke-width: 3; }
#tip { position: absolute; pointer-events: none; background: #1d232b; color: #fff;
  font-size: 12px; padding: 4px 8px; border-radius: 4px; z-index: 10; width: max-content;
  max-width: calc(100vw - 16px); }
)css";
}

std::string pageScript() {
  return R"js(
(function () {
  var tip = document.getElementById('tip');
  function tiles(c) {
    var i = Number(c.getAttribute('data-gap'));
    return document.querySelectorAll('.tile[data-index="' + i + '"], .tile[data-index="' +
                                      (i + 1) + '"]');
  }
  document.querySelectorAll('svg.plot circle.gap').forEach(function (c) {
    c.addEventListener('mouseenter', function () {
      var title = c.querySelector('title');
      tip.textContent = title ? title.textContent : '';
      var r = c.getBoundingClientRect();
      tip.hidden = false;
      // Beside the point, but never past the window's right edge, which would widen the page.
      var room = document.documentElement.clientWidth - tip.offsetWidth - 4;
      tip.style.left = (Math.max(0, Math.min(r.right + 6, room)) + window.scrollX) + 'px';
      tip.style.top = (r.top + window.scrollY - 30) + 'px';
      tiles(c).forEach(function (t) { t.classList.add('near'); });
    });
    c.addEventListener('mouseleave', function () {
      tip.hidden = true;
      tiles(c).forEach(function (t) { t.classList.remove('near'); });
    });
  });
})();
)js";
}

}  // namespace velto
