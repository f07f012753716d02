// The operator console: polls /console/state twice a second and /api/v1/health every two
// seconds, and shows them. Every text from the server goes in through textContent, never as
// markup: log lines and application names come from clients.
"use strict";

(function () {
  const kTilanVali = 500;        // ms between state polls
  const kTerveydenVali = 2000;   // ms between health polls
  const kRivejaEnintaan = 5000;  // log lines the page keeps

  const $ = (id) => document.getElementById(id);
  let viimeisin = 0;      // number of the newest log line shown
  let terveys = null;     // {ok, syy} of the last health answer
  let tila = null;        // the last state answer
  let suodatin = "";

  function aseta(id, teksti) {
    const e = $(id);
    if (e.textContent !== teksti)
      e.textContent = teksti;
  }

  function kesto(sekunteja) {
    const vrk = Math.floor(sekunteja / 86400);
    const h = Math.floor((sekunteja % 86400) / 3600);
    const min = Math.floor((sekunteja % 3600) / 60);
    const s = sekunteja % 60;
    const osat = [];
    if (vrk > 0) osat.push(vrk + " vrk");
    if (vrk > 0 || h > 0) osat.push(h + " h");
    if (vrk > 0 || h > 0 || min > 0) osat.push(min + " min");
    osat.push(s + " s");
    return osat.join(" ");
  }

  function yhteys(luokka, teksti) {
    const e = $("yhteys");
    e.className = "yhteys " + luokka;
    aseta("yhteys", teksti);
  }

  function naytaPalvelu() {
    if (!tila)
      return;
    let teksti = "Palvelee";
    let luokka = "tila-palvelee";
    if (tila.state === "pysaytetaan") {
      teksti = "Pysäytetään";
      luokka = "tila-pysaytetaan";
    } else if (!tila.databaseOpen || (terveys && !terveys.ok)) {
      teksti = "Odottaa tietokantaa";
      luokka = "tila-odottaa";
    }
    aseta("tila", teksti);
    $("tila").className = luokka;
    aseta("terveys", terveys === null ? "–" : terveys.ok ? "Kunnossa" : "Ei käytettävissä: " + terveys.syy);
    aseta("tietokanta", tila.database || "–");
    aseta("portti", String(tila.port));
    aseta("versio", tila.version);
    aseta("kaynnissa", kesto(tila.uptimeSeconds));
    aseta("istuntoja", String(tila.sessions));
    aseta("yhteyksia", String(tila.connections));
  }

  function naytaAsiakkaat(asiakkaat, kairanet) {
    aseta("labKairanetYhteyksia", String(kairanet));
    const rivit = document.createDocumentFragment();
    for (const a of asiakkaat) {
      const tr = document.createElement("tr");
      for (const arvo of [a.id, a.application, a.lastSeen]) {
        const td = document.createElement("td");
        td.textContent = arvo;
        tr.appendChild(td);
      }
      rivit.appendChild(tr);
    }
    $("memYhteysnakyma").replaceChildren(rivit);
    $("eiAsiakkaita").hidden = asiakkaat.length > 0;
  }

  function nakyyko(rivi) {
    return suodatin === "" || rivi.textContent.toLowerCase().includes(suodatin);
  }

  function lisaaRivit(loki) {
    const lista = $("memYhteydet");
    if (loki.last < viimeisin) {
      // The server was started again: its lines are numbered from the start.
      lista.replaceChildren();
      viimeisin = 0;
      return;
    }
    if (loki.lines.length === 0)
      return;
    const alhaalla = lista.scrollHeight - lista.scrollTop - lista.clientHeight < 4;
    const uudet = document.createDocumentFragment();
    if (loki.first > viimeisin + 1 && viimeisin > 0) {
      const vali = document.createElement("div");
      vali.className = "valissa";
      vali.textContent = "… " + (loki.first - viimeisin - 1) + " riviä jäi näyttämättä …";
      uudet.appendChild(vali);
    }
    for (const teksti of loki.lines) {
      const rivi = document.createElement("div");
      rivi.textContent = teksti;
      rivi.hidden = !nakyyko(rivi);
      uudet.appendChild(rivi);
    }
    lista.appendChild(uudet);
    viimeisin = loki.first + loki.lines.length - 1;
    while (lista.childElementCount > kRivejaEnintaan)
      lista.firstElementChild.remove();
    aseta("rivimaara", lista.childElementCount + " riviä");
    if (alhaalla)
      lista.scrollTop = lista.scrollHeight;
  }

  async function haeTila() {
    try {
      const vastaus = await fetch("/console/state?since=" + viimeisin, { cache: "no-store" });
      if (vastaus.status === 403)
        throw new Error("tästä osoitteesta ei saa lukea konsolia (403)");
      if (!vastaus.ok)
        throw new Error("palvelin vastasi " + vastaus.status);
      tila = await vastaus.json();
      naytaPalvelu();
      naytaAsiakkaat(tila.clients, tila.kairanet);
      lisaaRivit(tila.log);
      yhteys("ok", "Yhteydessä palvelimeen");
    } catch (virhe) {
      yhteys("poikki", "Ei yhteyttä palvelimeen: " + virhe.message);
    } finally {
      setTimeout(haeTila, kTilanVali);
    }
  }

  async function haeTerveys() {
    try {
      const vastaus = await fetch("/api/v1/health", { cache: "no-store" });
      const runko = await vastaus.json();
      terveys = { ok: vastaus.ok, syy: runko.reason || ("HTTP " + vastaus.status) };
    } catch (virhe) {
      terveys = { ok: false, syy: virhe.message };
    } finally {
      naytaPalvelu();
      setTimeout(haeTerveys, kTerveydenVali);
    }
  }

  $("suodatin").addEventListener("input", () => {
    suodatin = $("suodatin").value.toLowerCase();
    for (const rivi of $("memYhteydet").children)
      rivi.hidden = !nakyyko(rivi);
  });

  haeTila();
  haeTerveys();
})();
