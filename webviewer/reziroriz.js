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

  // For scripts that drive the page (the browser test among them).
  window.reziroriz = { viewer: viewer, data: data, levels: pyramidLevels(width, height), tileAt: tileAt };
})();
