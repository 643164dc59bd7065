#include "remote/web/web_page.h"

namespace orevant {

namespace {
// One document, no external resources: it must work on a phone with no other connection.
constexpr std::string_view kPage = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>OREVANT</title>
<style>
:root{color-scheme:dark;--bg:#15171a;--fg:#e8e8e8;--dim:#9aa0a6;--acc:#4fa3ff;--warn:#ff5a4f;--card:#22262b}
*{box-sizing:border-box}
body{margin:0;font:16px/1.35 system-ui,sans-serif;background:var(--bg);color:var(--fg)}
header{position:sticky;top:0;z-index:1;display:flex;gap:.5rem;align-items:center;padding:.6rem;background:#0d0f11}
header h1{font-size:1.1rem;margin:0 auto 0 0}
main{padding:.6rem;display:grid;grid-template-columns:minmax(0,1fr);gap:.6rem}
section{background:var(--card);border-radius:10px;padding:.6rem}
h2{font-size:.95rem;margin:0 0 .4rem;color:var(--dim)}
button,select,input{font:inherit;color:inherit;background:#33383f;border:1px solid #4a5058;border-radius:8px;min-height:44px;padding:0 .8rem}
button[aria-pressed=true]{background:var(--acc);color:#000}
#panic{background:var(--warn);color:#000;font-weight:700}
#panic[aria-pressed=true]{outline:3px solid #fff}
:focus-visible{outline:3px solid var(--acc);outline-offset:2px}
.strip{display:grid;grid-template-columns:minmax(0,1fr) auto;gap:.3rem .6rem;padding:.5rem 0;border-top:1px solid #333}
.strip:first-child{border-top:0}
.name{font-weight:600;overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
input[type=range]{grid-column:1/-1;width:100%;min-height:44px;padding:0;background:none;border:0;accent-color:var(--acc)}
meter{width:100%;height:8px;grid-column:1/-1}
.cue{display:flex;gap:.4rem;align-items:center;grid-column:1/-1}
.slots{display:grid;grid-template-columns:minmax(0,1fr) minmax(0,1fr);gap:.4rem}
select{width:100%}
.cue input[type=range]{flex:1}
.row{display:flex;flex-wrap:wrap;gap:.4rem}
#login{max-width:22rem;margin:15vh auto;text-align:center}
#pin{font-size:1.6rem;letter-spacing:.3em;width:10ch;text-align:center}
[hidden]{display:none!important}
</style>
</head>
<body>
<form id="login" aria-labelledby="lt">
<h1 id="lt">OREVANT</h1>
<label for="pin">Six-digit PIN shown by the agent</label><br>
<input id="pin" name="pin" inputmode="numeric" pattern="[0-9]{6}" maxlength="6" autocomplete="off" required><br><br>
<button id="pair" type="submit">Pair</button>
<p id="loginStatus" role="alert"></p>
</form>
<div id="mixer" hidden>
<header>
<h1>OREVANT</h1>
<button id="record" aria-pressed="false">Record</button>
<span id="recTime" aria-live="off"></span>
<button id="panic" aria-pressed="false">Panic</button>
</header>
<main>
<section aria-labelledby="sh"><h2 id="sh">Mixer</h2><div id="strips"></div></section>
<section aria-labelledby="ch"><h2 id="ch">Console slots</h2><div id="slots" class="slots"></div></section>
<section aria-labelledby="sc"><h2 id="sc">Scenes</h2><div id="scenes" class="row"></div>
<p><button id="saveScene">Save scene</button></p></section>
<p id="status" role="status"></p>
</main>
</div>
<script>
"use strict";
const $=id=>document.getElementById(id);
let ws=null,state=null,recStart=0,dragging=null;
function send(a,v){if(ws&&ws.readyState===1)ws.send(JSON.stringify({a:a,v:v}));}
// A dragged slider sends its latest value every 40 ms, so the last one is never lost to the
// server's rate limit.
const pending=new Map();
function sendLevel(a,v){if(!pending.size)setTimeout(()=>{pending.forEach((v,a)=>send(a,v));pending.clear();},40);pending.set(a,v);}
function pct(v){return Math.round(v*100);}
function el(tag,props,kids){const e=document.createElement(tag);Object.assign(e,props||{});(kids||[]).forEach(k=>e.append(k));return e;}
function strip(app){
  const id=app.bundleID,key=encodeURIComponent(id);
  let row=document.querySelector('[data-id="'+CSS.escape(id)+'"]');
  if(!row){
    const name=el('div',{className:'name'});
    const slider=el('input',{type:'range',min:0,max:100,step:1,className:'vol'});
    slider.addEventListener('pointerdown',()=>dragging=slider);
    slider.addEventListener('pointerup',()=>dragging=null);
    slider.addEventListener('input',()=>{sendLevel('/volume/'+id,slider.value/100);out.value=slider.value+' %';});
    const out=el('output',{className:'pct'});
    const meter=el('meter',{min:0,max:1,value:0,className:'lvl'});
    const cue=el('button',{type:'button',className:'cueBtn',textContent:'Cue'});
    cue.addEventListener('click',()=>send('/cue/'+id,cue.getAttribute('aria-pressed')==='true'?0:1));
    const cueVol=el('input',{type:'range',min:0,max:100,step:1,className:'cueVol'});
    cueVol.addEventListener('input',()=>sendLevel('/cuevolume/'+id,cueVol.value/100));
    row=el('div',{className:'strip'},[name,out,slider,el('div',{className:'cue'},[cue,cueVol]),meter]);
    row.dataset.id=id;row.dataset.key=key;
    $('strips').append(row);
  }
  const label=app.name||id;
  row.querySelector('.name').textContent=label;
  const s=row.querySelector('.vol');
  s.setAttribute('aria-label',label+' level');
  if(dragging!==s&&document.activeElement!==s){s.value=pct(app.volume);row.querySelector('.pct').value=pct(app.volume)+' %';}
  const c=row.querySelector('.cueBtn'),cv=row.querySelector('.cueVol');
  c.hidden=cv.hidden=!app.canCue;
  c.setAttribute('aria-pressed',String(!!app.isCued));
  c.setAttribute('aria-label','Cue '+label);
  cv.setAttribute('aria-label',label+' cue level');
  if(document.activeElement!==cv)cv.value=pct(app.cueVolume);
  row.querySelector('.lvl').setAttribute('aria-label',label+' meter');
  return row;
}
function render(){
  const seen=new Set();
  state.apps.forEach(app=>{if(!app.isEmpty)seen.add(strip(app));});
  [...$('strips').children].forEach(r=>{if(!seen.has(r))r.remove();});
  const slots=$('slots');
  state.slots.forEach((target,i)=>{
    let sel=slots.children[i];
    if(!sel){sel=el('select');sel.addEventListener('change',()=>send('/slot/'+i+'/'+sel.value,1));slots.append(sel);}
    sel.setAttribute('aria-label','Console slot '+(i+1));
    if(document.activeElement===sel)return;
    sel.replaceChildren(el('option',{value:'',textContent:'Slot '+(i+1)+': empty'}));
    state.apps.forEach(a=>sel.append(el('option',{value:a.bundleID,textContent:'Slot '+(i+1)+': '+(a.name||a.bundleID)})));
    sel.value=target;
  });
  const scenes=$('scenes'),names=JSON.stringify(state.snapshotNames);
  if(scenes.dataset.names!==names){scenes.dataset.names=names;scenes.replaceChildren();
  state.snapshotNames.forEach((n,i)=>{const b=el('button',{type:'button',textContent:n});b.setAttribute('aria-label','Recall scene '+n);
    b.addEventListener('click',()=>{send('/snapshot/'+i,1);send('/snapshot/'+i,0);});scenes.append(b);});}
  $('panic').setAttribute('aria-pressed',String(!!state.isPanicked));
  $('record').setAttribute('aria-pressed',String(!!state.isRecording));
  recStart=state.isRecording?Date.now()-1000*(state.recordingSeconds||0):0;
}
function meters(m){document.querySelectorAll('.strip').forEach(r=>{if(r.dataset.id in m)r.querySelector('.lvl').value=m[r.dataset.id];});}
setInterval(()=>{$('recTime').textContent=recStart?new Date(Date.now()-recStart).toISOString().substr(11,8):'';},500);
function connect(){
  ws=new WebSocket((location.protocol==='https:'?'wss://':'ws://')+location.host+'/ws','orevant');
  ws.onopen=()=>{$('login').hidden=true;$('mixer').hidden=false;$('status').textContent='Connected';document.body.dataset.session='open';};
  ws.onmessage=e=>{const d=JSON.parse(e.data);if(d.state){state=d.state;render();}if(d.meters)meters(d.meters);};
  ws.onclose=()=>{ws=null;document.body.dataset.session='closed';$('mixer').hidden=true;$('login').hidden=false;
    $('loginStatus').textContent='Not paired. Enter the PIN.';$('pin').focus();};
}
$('login').addEventListener('submit',async e=>{
  e.preventDefault();
  const r=await fetch('/login',{method:'POST',body:$('pin').value,credentials:'same-origin'});
  $('pin').value='';
  if(r.ok){connect();return;}
  $('loginStatus').textContent=r.status===429?'Too many wrong PINs. Wait 10 seconds.':'Wrong PIN.';
});
$('panic').addEventListener('click',()=>send('/panic',$('panic').getAttribute('aria-pressed')==='true'?0:1));
$('record').addEventListener('click',()=>send('/record',$('record').getAttribute('aria-pressed')==='true'?0:1));
$('saveScene').addEventListener('click',()=>{send('/snapshot/save',1);send('/snapshot/save',0);});
connect();
</script>
</body>
</html>
)PAGE";
} // namespace

std::string_view webCompanionPage() { return kPage; }

} // namespace orevant
