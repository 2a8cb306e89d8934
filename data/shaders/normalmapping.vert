#version 120
// Tangent-space normal mapping: the tangent frame goes to the fragments in eye space.
attribute vec3 tangent;   // direction of increasing u
attribute vec3 binormal;  // direction of increasing v
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec3 eyeTangent;
varying vec3 eyeBinormal;

void main()
{
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    eyeNormal = gl_NormalMatrix * gl_Normal;
    eyeTangent = gl_NormalMatrix * tangent;
    eyeBinormal = gl_NormalMatrix * binormal;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = ftransform();
}
