// The zoomable web mosaic. Reads the description the program wrote into the
// page, shows the tile pyramid with OpenSeadragon, and on a right click or a
// long press shows what is known about the picture of the tile underneath.
// Works from a static web server and straight from the disk (file://).
(function () {
  'use strict';

  var TILE_SIDE = 256;
  var TILES_PER_FOLDER = 1000;
  var LONG_PRESS_MS = 600;
  var LONG_PRESS_SLOP = 10;  // pixels a finger may wander during a long press

  // --- the description --------------------------------------------------------
  // "name: value" pairs. A value is a number, null, a bare name, 'text',
  // "text" in which "" stands for one quote, or a [list] of values; commas
  // and // comments are skipped. A {Placeholder} the program left unfilled
  // reads as null.
  function parseDescription(text) {
    var pos = 0;
    var wordPattern = /[^\s,\[\]]+/y;
    var keyPattern = /([A-Za-z]+)\s*:/y;

    function skip() {
      while (pos < text.length) {
        var c = text.charAt(pos);
        if (c === ',' || c === ' ' || c === '\t' || c === '\n' || c === '\r') {
          pos++;
        } else if (c === '/' && text.charAt(pos + 1) === '/') {
          var end = text.indexOf('\n', pos);
          pos = end < 0 ? text.length : end;
        } else {
          break;
        }
      }
    }

    function value() {
      skip();
      var c = text.charAt(pos);
      if (c === '[') {
        var list = [];
        pos++;
        for (;;) {
          skip();
          if (pos >= text.length) throw new Error('a list is not closed');
          if (text.charAt(pos) === ']') {
            pos++;
            return list;
          }
          list.push(value());
        }
      }
      if (c === '"' || c === "'") {
        var out = '';
        pos++;
        for (;;) {
          var quote = text.indexOf(c, pos);
          if (quote < 0) throw new Error('a text is not closed');
          out += text.slice(pos, quote);
          pos = quote + 1;
          if (c === '"' && text.charAt(pos) === '"') {
            out += '"';
            pos++;
          } else {
            // The program writes "<\/" for "</" and "<\!" for "<!" (and one
            // backslash more before any others), so that the page's script
            // block ends where it should.
            return out.replace(/<\\(\\*[\/!])/g, '<$1');
          }
        }
      }
      if (c === '{') {
        var close = text.indexOf('}', pos);
        pos = close < 0 ? text.length : close + 1;
        return null;
      }
      wordPattern.lastIndex = pos;
      var word = wordPattern.exec(text);
      if (!word) throw new Error('a value is missing');
      pos += word[0].length;
      if (word[0] === 'null') return null;
      var number = Number(word[0]);
      return isNaN(number) ? word[0] : number;
    }

    var data = {};
    for (;;) {
      skip();
      if (pos >= text.length) return data;
      keyPattern.lastIndex = pos;
      var key = keyPattern.exec(text);
      if (!key) throw new Error('a name is missing at ' + pos);
      pos += key[0].length;
      data[key[1]] = value();
    }
  }

  // --- the pyramid ------------------------------------------------------------------
  // The program's levels: each lower level halves both sides, truncating (a
  // side below 4 becomes 1), until neither side exceeds one tile. Tiles are
  // numbered row by row from level 0 on; every 1,000 share a folder.
  function pyramidLevels(width, height) {
    var levels = [];
    var w = width;
    var h = height;
    for (;;) {
      levels.push({ width: w, height: h, columns: Math.ceil(w / TILE_SIDE), rows: Math.ceil(h / TILE_SIDE) });
      if (w <= TILE_SIDE && h <= TILE_SIDE) break;
      w = w < 4 ? 1 : Math.floor(w / 2);
      h = h < 4 ? 1 : Math.floor(h / 2);
    }
    levels.reverse();
    var first = 0;
    levels.forEach(function (level) {
      level.firstTile = first;
      first += level.columns * level.rows;
    });
    return levels;
  }

  // OpenSeadragon's own arithmetic rounds halved sides up; this source
  // answers with the program's levels instead, so no tile is ever asked for
  // that was not written. A pixel of level l stands for 2^(top - l) pixels of
  // the mosaic, which places every level exactly over the full size.
  function pyramidSource(url, width, height) {
    var levels = pyramidLevels(width, height);
    var top = levels.length - 1;
    var source = new OpenSeadragon.TileSource({
      width: width,
      height: height,
      tileSize: TILE_SIDE,
      tileOverlap: 0,
      minLevel: 0,
      maxLevel: top
    });
    function spread(level) {
      return Math.pow(2, top - level);
    }
    source.getLevelScale = function (level) {
      return 1 / spread(level);
    };
    source.getNumTiles = function (level) {
      var l = levels[level];
      return l ? new OpenSeadragon.Point(l.columns, l.rows) : new OpenSeadragon.Point(0, 0);
    };
    source.getTileAtPoint = function (level, point) {
      var l = levels[level];
      var pixels = width / spread(level);  // level pixels per unit of the viewport
      var x = Math.floor((point.x * pixels) / TILE_SIDE);
      var y = Math.floor((point.y * pixels) / TILE_SIDE);
      return new OpenSeadragon.Point(Math.max(0, Math.min(l.columns - 1, x)), Math.max(0, Math.min(l.rows - 1, y)));
    };
    source.getTileBounds = function (level, x, y, isSource) {
      var l = levels[level];
      var px = x * TILE_SIDE;
      var py = y * TILE_SIDE;
      var sx = Math.min(TILE_SIDE, l.width - px);
      var sy = Math.min(TILE_SIDE, l.height - py);
      if (isSource) return new OpenSeadragon.Rect(0, 0, sx, sy);
      var unit = spread(level) / width;
      return new OpenSeadragon.Rect(px * unit, py * unit, sx * unit, sy * unit);
    };
    source.tileExists = function (level, x, y) {
      var l = levels[level];
      return !!l && x >= 0 && y >= 0 && x < l.columns && y < l.rows;
    };
    source.getTileUrl = function (level, x, y) {
      var l = levels[level];
      var index = l.firstTile + y * l.columns + x;
      return url + Math.floor(index / TILES_PER_FOLDER) + '/' + level + '-' + x + '-' + y + '.jpg';
    };
    return source;
  }

  // --- popups ---------------------------------------------------------------------------
  // A row of the tile array: x, y, width, height, tile number, picture
  // number, use count, URL, name, extension (the last five null without a picture).
  function tileRecord(row) {
    return {
      x: row[0], y: row[1], width: row[2], height: row[3], number: row[4],
      picture: row[5], uses: row[6], url: row[7], name: row[8], extension: row[9]
    };
  }

  function element(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function fileName(tile) {
    return tile.extension ? tile.name + '.' + tile.extension : tile.name;
  }

  function usage(tile) {
    return 'Picture ' + tile.picture + ', used ' + tile.uses + (tile.uses === 1 ? ' time' : ' times');
  }

  function readableUrl(url) {
    try {
      return decodeURI(url);
    } catch (error) {
      return url;
    }
  }

  function picture(tile, width) {
    var img = element('img');
    img.alt = fileName(tile);
    img.src = tile.url;
    if (width > 0) img.width = width;
    return img;
  }

  var popUpWidth = 0;

  var popUps = {
    getPopUpTextOnly: function (tile) {
      return [element('div', 'name', fileName(tile)), element('div', 'detail', usage(tile))];
    },
    getPopUpImageOnly: function (tile) {
      return [picture(tile, popUpWidth)];
    },
    getPopUpImageWithName: function (tile) {
      return [picture(tile, popUpWidth), element('div', 'name', fileName(tile))];
    },
    getPopUpFullText: function (tile) {
      return [
        picture(tile, popUpWidth),
        element('div', 'name', fileName(tile)),
        element('div', 'detail', usage(tile)),
        element('div', 'detail', 'Tile ' + tile.number + ': ' + tile.width + ' \u00d7 ' + tile.height +
          ' pixels at ' + tile.x + ', ' + tile.y),
        element('div', 'detail', readableUrl(tile.url))
      ];
    }
  };

  // --- the page ---------------------------------------------------------------------------
  var data;
  try {
    data = parseDescription(document.getElementById('mosaic-data').textContent);
  } catch (error) {
    document.getElementById('attribution').textContent = 'This page is damaged: ' + error.message;
    return;
  }
  var width = Number(data.mosaicWidth);
  var height = Number(data.mosaicHeight);
  var tiles = Array.isArray(data.tiles) ? data.tiles.map(tileRecord) : [];
  var makePopUp = popUps[data.popUpFunction] || null;
  popUpWidth = Number(data.popUpWidth) || 0;
  var popUpMaxWidth = Number(data.popUpMaxWidth) > 0 ? Number(data.popUpMaxWidth) : 300;

  document.getElementById('attribution').textContent = data.attribution || '';
  if (makePopUp && tiles.length) document.getElementById('hint').hidden = false;

  var viewer = OpenSeadragon({
    id: 'mosaic',
    prefixUrl: 'openseadragon/images/',
    tileSources: pyramidSource(data.mosaicUrl || 'mosaic/', width, height),
    // The 2D canvas draws tiles read from the disk as well as from a server.
    drawer: 'canvas',
    showNavigator: true,
    navigatorPosition: 'BOTTOM_RIGHT',
    visibilityRatio: 0.5,
    constrainDuringPan: true,
    gestureSettingsMouse: { clickToZoom: true, dblClickToZoom: false },
    gestureSettingsTouch: { pinchRotate: false }
  });

  // The tile under a point of the page, or null.
  function tileAt(clientX, clientY) {
    var box = viewer.element.getBoundingClientRect();
    var point = new OpenSeadragon.Point(clientX - box.left, clientY - box.top);
    var image = viewer.viewport.viewerElementToImageCoordinates(point);
    for (var i = 0; i < tiles.length; i++) {
      var t = tiles[i];
      if (image.x >= t.x && image.x < t.x + t.width && image.y >= t.y && image.y < t.y + t.height) return t;
    }
    return null;
  }

  var popup = document.getElementById('popup');

  function closePopUp() {
    popup.hidden = true;
    popup.textContent = '';
  }

  function openPopUp(clientX, clientY) {
    var tile = tileAt(clientX, clientY);
    if (!makePopUp || !tile) return false;
    closePopUp();
    var close = element('button', 'close', '\u00d7');
    close.type = 'button';
    close.title = 'Close';
    close.addEventListener('click', closePopUp);
    popup.appendChild(close);
    var parts = tile.picture === null ? [element('div', 'detail', 'No picture on this tile')] : makePopUp(tile);
    parts.forEach(function (part) { popup.appendChild(part); });
    popup.style.maxWidth = Math.min(popUpMaxWidth + 24, window.innerWidth - 16) + 'px';
    popup.hidden = false;
    place(clientX, clientY);
    // A picture arriving later changes the size; keep the card on screen.
    Array.prototype.forEach.call(popup.querySelectorAll('img'), function (img) {
      img.addEventListener('load', function () { place(clientX, clientY); });
    });
    return true;
  }

  function place(clientX, clientY) {
    var margin = 8;
    var x = Math.min(clientX + margin, window.innerWidth - popup.offsetWidth - margin);
    var y = Math.min(clientY + margin, window.innerHeight - popup.offsetHeight - margin);
    popup.style.left = Math.max(margin, x) + 'px';
    popup.style.top = Math.max(margin, y) + 'px';
  }

  var lastLongPress = 0;
  viewer.element.addEventListener('contextmenu', function (event) {
    if (!makePopUp) return;
    event.preventDefault();
    // Some touch browsers follow their own long press with this event.
    if (Date.now() - lastLongPress < 1000) return;
    openPopUp(event.clientX, event.clientY);
  }, true);

  var press = null;
  viewer.element.addEventListener('pointerdown', function (event) {
    if (event.pointerType === 'mouse' || !makePopUp) return;
    var x = event.clientX;
    var y = event.clientY;
    var timer = setTimeout(function () {
      press = null;
      if (openPopUp(x, y)) lastLongPress = Date.now();
    }, LONG_PRESS_MS);
    press = { id: event.pointerId, x: x, y: y, timer: timer };
  }, true);
  function endPress(event) {
    if (!press || event.pointerId !== press.id) return;
    if (event.type === 'pointermove' &&
        Math.abs(event.clientX - press.x) <= LONG_PRESS_SLOP && Math.abs(event.clientY - press.y) <= LONG_PRESS_SLOP) {
      return;
    }
    clearTimeout(press.timer);
    press = null;
  }
  ['pointermove', 'pointerup', 'pointercancel'].forEach(function (type) {
    viewer.element.addEventListener(type, endPress, true);
  });

  document.addEventListener('keydown', function (event) {
    if (event.key === 'Escape') closePopUp();
  });
  viewer.addHandler('canvas-press', closePopUp);
  viewer.addHandler('animation-start', closePopUp);

  // --- finding a picture -----------------------------------------------------------------
  // The box lists the pictures whose file name holds what was typed, without
  // regard to case or accents; a chosen picture has all its tiles outlined
  // and the view steps from one of them to the next. Names only ever reach
  // the page as text, never as markup.
  var MAX_RESULTS = 50;

  // `text` lower-cased and without accents, and for every character of that
  // the index in `text` it came from (one more at the end).
  function folded(text) {
    var key = '';
    var from = [];
    var at = 0;
    Array.from(text).forEach(function (ch) {
      var f = ch.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase();
      for (var k = 0; k < f.length; k++) from.push(at);
      key += f;
      at += ch.length;
    });
    from.push(at);
    return { key: key, from: from };
  }

  // Every picture of the tile array once, its tiles in the array's order.
  function pictureIndex(tiles) {
    var byNumber = new Map();
    var list = [];
    tiles.forEach(function (tile) {
      if (tile.picture === null || tile.picture === undefined) return;
      var picture = byNumber.get(tile.picture);
      if (!picture) {
        var name = fileName(tile);
        picture = { number: tile.picture, name: name, folded: folded(String(name)), uses: tile.uses, tiles: [] };
        byNumber.set(tile.picture, picture);
        list.push(picture);
      }
      picture.tiles.push(tile);
    });
    // Pictures of the same name from different folders are told apart by number.
    var seen = new Map();
    list.forEach(function (picture) { seen.set(picture.name, (seen.get(picture.name) || 0) + 1); });
    list.forEach(function (picture) { picture.shared = seen.get(picture.name) > 1; });
    return list;
  }

  function timesUsed(uses) {
    return 'used ' + uses + (uses === 1 ? ' time' : ' times');
  }

  // Pictures whose name holds `query`: those starting with it first, then by name.
  function findPictures(pictures, query) {
    var key = folded(query.trim()).key;
    if (!key) return [];
    var found = [];
    pictures.forEach(function (picture) {
      var at = picture.folded.key.indexOf(key);
      if (at >= 0) found.push({ picture: picture, at: at, length: key.length });
    });
    found.sort(function (a, b) {
      return (a.at === 0) !== (b.at === 0) ? (a.at === 0 ? -1 : 1)
        : a.picture.name.localeCompare(b.picture.name) || a.picture.number - b.picture.number;
    });
    return found;
  }

  function setUpSearch(pictures) {
    var box = document.getElementById('search');
    var input = document.getElementById('search-input');
    var results = document.getElementById('search-results');
    var status = document.getElementById('search-status');
    var steps = document.getElementById('search-steps');
    var chosenName = document.getElementById('search-chosen-name');
    var position = document.getElementById('search-position');
    var shown = [];      // the listed matches
    var active = -1;     // the highlighted one
    var chosen = null;   // { picture, index, marks }

    function setActive(index) {
      var options = results.children;
      if (active >= 0 && options[active]) options[active].removeAttribute('aria-selected');
      active = index;
      if (active >= 0 && options[active]) {
        options[active].setAttribute('aria-selected', 'true');
        input.setAttribute('aria-activedescendant', options[active].id);
        options[active].scrollIntoView({ block: 'nearest' });
      } else {
        input.removeAttribute('aria-activedescendant');
      }
    }

    function closeList() {
      results.hidden = true;
      input.setAttribute('aria-expanded', 'false');
      setActive(-1);
    }

    function nameWithMatch(match) {
      var span = element('span', 'result-name');
      var name = match.picture.name;
      var from = match.picture.folded.from;
      var start = from[match.at];
      var end = from[match.at + match.length];
      span.appendChild(document.createTextNode(name.slice(0, start)));
      span.appendChild(element('mark', null, name.slice(start, end)));
      span.appendChild(document.createTextNode(name.slice(end)));
      return span;
    }

    function list() {
      var query = input.value;
      var found = findPictures(pictures, query);
      shown = found.slice(0, MAX_RESULTS);
      results.textContent = '';
      active = -1;
      input.removeAttribute('aria-activedescendant');
      shown.forEach(function (match, i) {
        var option = element('li', 'result');
        option.id = 'search-result-' + i;
        option.setAttribute('role', 'option');
        option.appendChild(nameWithMatch(match));
        var uses = timesUsed(match.picture.uses);
        if (match.picture.shared) uses = 'picture ' + match.picture.number + ', ' + uses;
        option.appendChild(element('span', 'result-uses', uses));
        // Keep the focus in the box while the mouse chooses.
        option.addEventListener('mousedown', function (event) { event.preventDefault(); });
        option.addEventListener('click', function () { choose(match.picture); });
        results.appendChild(option);
      });
      if (!query.trim()) {
        status.textContent = '';
      } else if (!found.length) {
        status.textContent = 'No picture has that in its name';
      } else if (found.length > shown.length) {
        status.textContent = 'The first ' + shown.length + ' of ' + found.length + ' pictures: type more of the name';
      } else {
        status.textContent = found.length === 1 ? '1 picture' : found.length + ' pictures';
      }
      results.hidden = shown.length === 0;
      input.setAttribute('aria-expanded', shown.length ? 'true' : 'false');
    }

    function unmark() {
      if (!chosen) return;
      chosen.marks.forEach(function (mark) { viewer.removeOverlay(mark); });
      chosen = null;
      steps.hidden = true;
    }

    function choose(picture) {
      unmark();
      closeList();
      status.textContent = '';
      input.value = picture.name;
      chosen = { picture: picture, index: 0, marks: [] };
      picture.tiles.forEach(function (tile) {
        var mark = element('div', 'mark');
        viewer.addOverlay({
          element: mark,
          location: viewer.viewport.imageToViewportRectangle(tile.x, tile.y, tile.width, tile.height)
        });
        chosen.marks.push(mark);
      });
      chosenName.textContent = picture.name;
      steps.hidden = false;
      show(0);
    }

    // Shows tile `index` of the chosen picture (counted round), with some of
    // the mosaic around it.
    function show(index) {
      if (!chosen) return;
      var count = chosen.picture.tiles.length;
      var previous = chosen.marks[chosen.index];
      if (previous) previous.classList.remove('current');
      chosen.index = ((index % count) + count) % count;
      var tile = chosen.picture.tiles[chosen.index];
      chosen.marks[chosen.index].classList.add('current');
      position.textContent = 'Tile ' + (chosen.index + 1) + ' of ' + count + ', ' + timesUsed(chosen.picture.uses);
      var around = viewer.viewport.imageToViewportRectangle(
        tile.x - tile.width, tile.y - tile.height, tile.width * 3, tile.height * 3);
      viewer.viewport.fitBoundsWithConstraints(around);
    }

    function step(by) {
      if (chosen) show(chosen.index + by);
    }

    function stop() {
      unmark();
      closeList();
      input.value = '';
      status.textContent = '';
    }

    input.addEventListener('input', function () {
      list();
    });
    input.addEventListener('focus', function () {
      if (input.value.trim() && (!chosen || input.value !== chosen.picture.name)) list();
    });
    input.addEventListener('keydown', function (event) {
      var open = !results.hidden;
      if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
        event.preventDefault();
        if (!open) {
          list();
          if (results.hidden) return;
        }
        var down = event.key === 'ArrowDown';
        var next = active < 0 ? (down ? 0 : shown.length - 1) : active + (down ? 1 : -1);
        setActive(Math.max(0, Math.min(shown.length - 1, next)));
      } else if (event.key === 'Enter') {
        event.preventDefault();
        if (open && shown.length) {
          choose(shown[active >= 0 ? active : 0].picture);
        } else if (chosen && input.value === chosen.picture.name) {
          step(event.shiftKey ? -1 : 1);
        }
      } else if (event.key === 'Escape') {
        event.preventDefault();
        if (open) {
          closeList();
        } else {
          stop();
        }
      }
    });
    // Leaving the box closes the list.
    box.addEventListener('focusout', function (event) {
      if (!box.contains(event.relatedTarget)) closeList();
    });
    document.getElementById('search-previous').addEventListener('click', function () { step(-1); });
    document.getElementById('search-next').addEventListener('click', function () { step(1); });
    document.getElementById('search-clear').addEventListener('click', function () {
      stop();
      input.focus();
    });
    // Outside a text field: "/" goes to the box, N and P step through the tiles.
    document.addEventListener('keydown', function (event) {
      if (event.ctrlKey || event.altKey || event.metaKey) return;
      var target = event.target;
      if (target && (target.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(target.tagName))) return;
      if (event.key === '/') {
        event.preventDefault();
        input.focus();
        input.select();
      } else if ((event.key === 'n' || event.key === 'N') && chosen) {
        event.preventDefault();
        step(1);
      } else if ((event.key === 'p' || event.key === 'P') && chosen) {
        event.preventDefault();
        step(-1);
      }
    }, true);

    box.hidden = false;
    return {
      find: function (query) { return findPictures(pictures, query).map(function (m) { return m.picture; }); },
      chosen: function () {
        return chosen ? { number: chosen.picture.number, index: chosen.index, tile: chosen.picture.tiles[chosen.index] } : null;
      }
    };
  }

  // Only a page that knows which picture lies where can search.
  var pictures = pictureIndex(tiles);
  var search = pictures.length ? setUpSearch(pictures) : null;

  // For scripts that drive the page (the browser test among them).
  window.reziroriz = {
    viewer: viewer, data: data, levels: pyramidLevels(width, height), tileAt: tileAt, search: search
  };
})();
